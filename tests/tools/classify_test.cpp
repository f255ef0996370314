// classify: the saved lists against programma's, --restore against training
// under every combiner (in file order and in a seeded one), the labels that
// answer, and progress at a terminal. (The answers' sums are the library's,
// held against the reference modules by the library's own tests, and the
// README's table pins the wiring; bad input is refused in the output rule's
// rows.)
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <random>
#include <sstream>

#include "tools_support.h"

namespace {

TEST(Classify, ListsAreProgrammasAndRestoringGivesTheSameAnswers) {
    TempDir dir;
    const std::string data = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
    const auto sets = [&](const std::string& epochs) {
        return std::vector<std::string>{"-tr", data + "Training_set", "-ts", data + "Test_set", "-k", "gauss", "-e",
                                        epochs};
    };
    const RunResult trained =
        tool(with({"classify", "--lists", dir.file("lists"), "--predictions", dir.file("trained")}, sets("3")));
    ASSERT_EQ(trained.status, 0) << trained.err;
    for (const char* d : {"0", "4", "9"}) {
        EXPECT_EQ(launch({.work_dir = dir.path, .args = with(sets("3"), {"-dg", d}), .input = "y\nsaved\n"}).status, 0);
        EXPECT_EQ(read_text(dir.file("lists/" + std::string(d) + ".list")), read_text(dir.file("saved"))) << d;
    }
    const std::vector<std::string> restore = {"classify", "--restore", dir.file("lists")};
    const RunResult restored = tool(with(restore, with({"--predictions", dir.file("restored"), "--csv"}, sets("3"))));
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(read_text(dir.file("restored")), read_text(dir.file("trained")));
    const std::string error_line = trained.out.substr(trained.out.find("Ten-class test error: "), 60);
    const std::string wrong = error_line.substr(22, error_line.find(' ', 22) - 22);
    EXPECT_NE(restored.out.find("\nall,,,597," + wrong + ","), std::string::npos) << restored.out;
    EXPECT_EQ(std::count(restored.out.begin(), restored.out.end(), '\n'), 12) << "one CSV table";

    // Every combiner answers the same from restored lists as from training:
    // the lists alone give each hypothesis's weight. programma's own lists
    // (without a manifest) take -e from the command line.
    ::unlink(dir.file("lists/manifest").c_str());
    for (const std::string combine : {"vote", "average"}) {
        const std::vector<std::string> answers = with({"--combine", combine}, sets("3"));
        ASSERT_EQ(tool(with({"classify", "--predictions", dir.file("trained_" + combine)}, answers)).status, 0);
        ASSERT_EQ(tool(with(restore, with({"--predictions", dir.file("restored_" + combine)}, answers))).status, 0);
        EXPECT_EQ(read_text(dir.file("restored_" + combine)), read_text(dir.file("trained_" + combine))) << combine;
    }
    // Lists trained in a seeded order restore in it (their manifest keeps the seed).
    for (const std::string combine : {"last", "vote", "average"}) {
        const std::string lists = dir.file("shuffled_" + combine);
        const auto answers = with({"--combine", combine, "--predictions", lists + ".p"}, sets("2"));
        ASSERT_EQ(tool(with({"classify", "--shuffle", "4", "--lists", lists}, answers)).status, 0);
        const std::string trained_answers = read_text(lists + ".p");
        ASSERT_EQ(tool(with({"classify", "--restore", lists}, answers)).status, 0);
        EXPECT_EQ(read_text(lists + ".p"), trained_answers) << combine;
    }
    EXPECT_NE(read_text(dir.file("shuffled_vote/manifest")).find("\nepochs 2\nshuffle 4\ntraining-rows"),
              std::string::npos);
}

// Rows around one centre per class (its own feature high), labelled with
// the class's label: the same rows whatever the labels.
std::string clustered(const std::vector<std::string>& labels, int rows) {
    std::mt19937 random(4);
    std::normal_distribution<float> noise(0.0f, 0.6f);
    std::string text;
    for (int r = 0; r < rows; ++r) {
        const std::size_t c = random() % labels.size();
        for (std::size_t f = 0; f < 6; ++f) text += std::to_string((f == c % 6 ? 2.0f : 0.0f) + noise(random)) + " ";
        text += labels[c] + "\n";
    }
    return text;
}

TEST(Classify, EveryLabelOfTheTrainingSetAndOnlyThoseAnswer) {
    TempDir dir;
    // The same rows under digits and under labels no recogniser could target
    // (negative, above 9); the test sets add a label no training row has.
    const std::vector<std::string> digits = {"0", "1", "2", "5"}, others = {"-7", "3", "12", "40"};
    for (const auto& [set, labels] : {std::pair{std::string("a"), digits}, {std::string("b"), others}}) {
        write_text(dir.file(set + ".tr"), clustered(labels, 120));
        write_text(dir.file(set + ".ts"), clustered(with(labels, {"99"}), 60));
        const RunResult run = tool({"classify", "-k", "gauss", "-c", "10", "--csv", "--lists", set, "--predictions",
                                    set + ".p", "-tr", set + ".tr", "-ts", set + ".ts"},
                                   dir.path);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.out.starts_with(
            "label,mistakes,training_error_percent,test_rows,test_wrong,test_error_percent,"
            "answered_" +
            labels[0] + ",answered_" + labels[1] + ",answered_" + labels[2] + ",answered_" + labels[3] + "\n"));
        EXPECT_NE(run.out.find("\n99,,,"), std::string::npos) << run.out;  // every row of it wrong
    }
    // The same lists and, label for label, the same answers, restored too.
    std::istringstream answers(read_text(dir.file("a.p")));
    std::string mapped;
    for (std::string line; std::getline(answers, line);) {
        const std::size_t label = std::find(digits.begin(), digits.end(), line) - digits.begin();
        ASSERT_LT(label, digits.size()) << line << " is no label of the training set";
        EXPECT_EQ(read_text(dir.file("a/" + line + ".list")), read_text(dir.file("b/" + others[label] + ".list")));
        mapped += others[label] + "\n";
    }
    EXPECT_EQ(mapped, read_text(dir.file("b.p")));
    ASSERT_EQ(
        tool({"classify", "--restore", "b", "--predictions", "b.q", "-tr", "b.tr", "-ts", "b.ts"}, dir.path).status, 0);
    EXPECT_EQ(read_text(dir.file("b.q")), mapped);
}

// Progress shows at a terminal, on one line rewritten in place; not with
// --quiet. (Every other run's standard error, no terminal, holds none.)
TEST(Classify, ProgressShowsOnlyAtATerminalUnlessQuiet) {
    if (launch({.program = "/bin/sh", .args = {"-c", "command -v script"}}).status != 0) GTEST_SKIP() << "no script";
    for (const bool quiet : {false, true}) {
        const std::string run =
            shell_quote(DIGIT_TOOLS_PATH) + " classify -k gauss -e 1" + (quiet ? " --quiet" : "") + " 2>&1 >/dev/null";
        const RunResult r = launch(
            {.program = "/usr/bin/script", .work_dir = PROGRAMMA_SOURCE_DIR, .args = {"-qec", run, "/dev/null"}});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.find("digit-tools: training 10 recognisers: 0%") != std::string::npos, !quiet) << r.out;
        EXPECT_EQ(r.out.find('\r') != std::string::npos, !quiet) << r.out;
    }
}

}  // namespace
