// In-process checks of the option loop and the settings it writes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "programma.h"

namespace {

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { reset_settings(); }
    void TearDown() override { reset_settings(); }

    // Parses the arguments (after a program name); returns 0 or 1 and keeps
    // what was printed.
    int parse(std::vector<std::string> args) {
        args.insert(args.begin(), "programma");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        storage = std::move(args);
        ::testing::internal::CaptureStdout();
        int result = parse_command_line(static_cast<int>(storage.size()), argv.data());
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }

    std::vector<std::string> storage;
    std::string printed;
};

TEST_F(CommandLine, DefaultsAreTheDocumentedOnes) {
    EXPECT_EQ(parse({}), 0);
    EXPECT_EQ(printed, "");
    EXPECT_EQ(adaboost, 0);
    EXPECT_EQ(gaussian_c, 3.0f);
    EXPECT_EQ(polinomial_degree, 2.0f);
    EXPECT_EQ(digit, 0u);
    EXPECT_EQ(epocs, 2u);
    EXPECT_EQ(kernel_algoritm, 0);
    EXPECT_EQ(load_list, 0);
    EXPECT_STREQ(training_set, "Data/Training_set");
    EXPECT_STREQ(test_set, "Data/Test_set");
    EXPECT_EQ(voted, 0);
}

TEST_F(CommandLine, NumericValuesReadTheirLeadingNumber) {
    EXPECT_EQ(set_variable("-dg", "3x"), 0);
    EXPECT_EQ(digit, 3u);
    EXPECT_EQ(set_variable("-e", ""), 0);
    EXPECT_EQ(epocs, 0u);
    EXPECT_EQ(set_variable("-e", " 7"), 0);
    EXPECT_EQ(epocs, 7u);
    EXPECT_EQ(set_variable("-e", "2147483647"), 0);
    EXPECT_EQ(epocs, 2147483647u);
    EXPECT_EQ(set_variable("-c", "2.5abc"), 0);
    EXPECT_EQ(gaussian_c, 2.5f);
    EXPECT_EQ(set_variable("-d", "-1.5"), 0);
    EXPECT_EQ(polinomial_degree, -1.5f);
    EXPECT_EQ(set_variable("-d", ""), 0);
    EXPECT_EQ(polinomial_degree, 0.0f);
    EXPECT_EQ(set_variable("-c", "1e999"), 0);
    EXPECT_TRUE(std::isinf(gaussian_c));
    EXPECT_EQ(set_variable("-c", "-1e39"), 0);
    EXPECT_EQ(gaussian_c, -INFINITY);
    EXPECT_EQ(set_variable("-c", "0.1"), 0);
    EXPECT_EQ(gaussian_c, 0.1f);
}

TEST_F(CommandLine, RefusedValues) {
    const std::vector<std::pair<const char*, const char*>> refused = {
        {"-a", "2"},        {"-a", ""},     {"-a", "01"},         {"-vot", "yes"},
        {"-dg", "10"},      {"-dg", "-1"},  {"-dg", "x"},         {"-dg", "99999999999"},
        {"-e", "-1"},       {"-e", "e"},    {"-e", "2147483648"}, {"-e", "99999999999999999999"},
        {"-k", "poly"},     {"-k", "Gauss"}, {"-c", "abc"},       {"-d", "Z1"},
    };
    for (const auto& [name, value] : refused) {
        EXPECT_EQ(set_variable(name, value), 1) << name << " " << value;
    }
}

TEST_F(CommandLine, PathsAndFlags) {
    EXPECT_EQ(parse({"-l", "saved", "-tr", "a", "-ts", "b", "-k", "gauss", "-vot", "1", "-a",
                     "1"}),
              0);
    EXPECT_EQ(load_list, 1);
    EXPECT_STREQ(list, "saved");
    EXPECT_STREQ(training_set, "a");
    EXPECT_STREQ(test_set, "b");
    EXPECT_EQ(kernel_algoritm, 1);
    EXPECT_EQ(voted, 1);
    EXPECT_EQ(adaboost, 1);
}

TEST_F(CommandLine, LaterValueWins) {
    EXPECT_EQ(parse({"-dg", "4", "-dg", "6", "-k", "gauss", "-k", "pol"}), 0);
    EXPECT_EQ(digit, 6u);
    EXPECT_EQ(kernel_algoritm, 0);
}

TEST_F(CommandLine, RefusalStopsAtTheFirstBadPair) {
    EXPECT_EQ(parse({"-dg", "4", "-x", "1", "-dg", "6"}), 1);
    EXPECT_EQ(digit, 4u);
    EXPECT_EQ(is_error, 1);
    EXPECT_NE(printed.find("Wrong parameters makes this message appear"), std::string::npos);
    // A value without its option shifts the pairs.
    EXPECT_EQ(parse({"3", "-dg", "4"}), 1);
    EXPECT_EQ(parse({"-dg"}), 1);
}

}  // namespace
