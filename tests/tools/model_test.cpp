// Model files: predict, in a folder of the model and the rows alone, gives
// classify's answers, scores and test report byte for byte under every
// combiner, a seeded order, a margin and saved ranges; ranges travel with
// the model or are given once; tune saves the model classify makes with the
// best setting. (Refusals are rows of the output rule's table; the file's
// damage is the library's tests'.)
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sstream>

#include "tools_support.h"

namespace {

const std::string kData = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
const std::string kParts = std::string(PROGRAMMA_SOURCE_DIR) + "/examples/data/";

// The part's rows (raw features, labels 101, 202, 303) as sample sets, and
// the ranges of the training rows.
void make_parts(const TempDir& dir) {
    ASSERT_EQ(tool({"convert", "--from", "csv", "--header", kParts + "parts.csv", "-o", dir.file("parts")}).status, 0);
    ASSERT_EQ(tool({"convert", "--from", "csv", "--header", kParts + "new-parts.csv", "-o", dir.file("new")}).status,
              0);
    ASSERT_EQ(tool({"scale", "--save-ranges", dir.file("r"), "-o", dir.file("parts.scaled"), dir.file("parts")}).status,
              0);
}

// What classify prints about its test set: from the test error line on.
std::string test_part(const std::string& report) {
    return report.substr(report.rfind('\n', report.find("-class test error")) + 1);
}

TEST(Model, PredictGivesClassifysAnswersScoresAndReportFromAnotherFolder) {
    TempDir dir;
    make_parts(dir);
    const std::string digits = kData + "Training_set", tests = kData + "Test_set";
    const struct {
        std::string name, train, test;
        std::vector<std::string> args;
    } cases[] = {
        {"last", digits, tests, {"-k", "gauss", "-e", "2"}},
        {"average_shuffled",
         digits,
         tests,
         {"-k", "gauss", "-c", "30", "-e", "3", "--combine", "average", "--shuffle", "5"}},
        {"vote_margin", digits, tests, {"-d", "3", "-e", "2", "--combine", "vote", "--margin", "0.5"}},
        {"ranges", dir.file("parts"), dir.file("new"), {"-k", "gauss", "-c", "1", "--ranges", dir.file("r")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string away = dir.file(c.name);
        ::mkdir(away.c_str(), 0755);
        const RunResult trained =
            tool(with({"classify", "-tr", c.train, "-ts", c.test, "--save-model", away + "/model", "--predictions",
                       dir.file(c.name + ".p"), "--scores", dir.file(c.name + ".s")},
                      c.args));
        ASSERT_EQ(trained.status, 0) << trained.err;
        write_text(away + "/rows", read_text(c.test));
        const RunResult predicted = tool({"predict", "model", "rows", "--predictions", "p", "--scores", "s"}, away);
        ASSERT_EQ(predicted.status, 0) << predicted.err;
        EXPECT_EQ(predicted.err, "");
        EXPECT_EQ(predicted.out, test_part(trained.out));
        EXPECT_EQ(read_text(away + "/p"), read_text(dir.file(c.name + ".p")));
        EXPECT_EQ(read_text(away + "/s"), read_text(dir.file(c.name + ".s")));
    }
    EXPECT_TRUE(read_text(dir.file("ranges.s")).starts_with("101,202,303\n"));
    EXPECT_TRUE(read_text(dir.file("last.s")).starts_with("0,1,2,3,4,5,6,7,8,9\n-"));
}

TEST(Model, RangesTravelWithTheModelOrAreGivenOnce) {
    TempDir dir;
    make_parts(dir);
    const std::vector<std::string> setting = {"-k", "gauss", "-c", "2", "-e", "5", "--combine", "vote"};
    ASSERT_EQ(tool(with({"classify", "-tr", "parts", "-ts", "new", "--ranges", "r", "--save-model", "ranged",
                         "--predictions", "p"},
                        setting),
                   dir.path)
                  .status,
              0);
    // A model of scaled rows, without ranges, takes them from --ranges.
    ASSERT_EQ(tool(with({"classify", "-tr", "parts.scaled", "-ts", "parts.scaled", "--save-model", "plain"}, setting),
                   dir.path)
                  .status,
              0);
    ASSERT_EQ(tool({"predict", "plain", "new", "--ranges", "r", "--predictions", "q"}, dir.path).status, 0);
    EXPECT_EQ(read_text(dir.file("q")), read_text(dir.file("p")));
    // Rows of features only: the same answers, and a count.
    ASSERT_EQ(
        launch({.program = "/bin/sh", .work_dir = dir.path, .args = {"-c", "cut -d' ' -f1-3 new > features"}}).status,
        0);
    const RunResult unlabelled =
        tool({"predict", "ranged", "features", "--unlabelled", "--predictions", "u", "--csv"}, dir.path);
    EXPECT_EQ(unlabelled.out, "rows_answered\n30\n");
    EXPECT_EQ(read_text(dir.file("u")), read_text(dir.file("p")));
}

// Labels of text (as Python saves them) answer as texts; the scores'
// header quotes them as CSV does, and test labels count by their text (by
// their value against labels of numbers).
TEST(Model, TextLabelsAnswerAsTexts) {
    TempDir dir;
    make_parts(dir);
    ASSERT_EQ(
        tool({"classify", "-tr", "parts", "-ts", "new", "--ranges", "r", "--save-model", "m", "--predictions", "p"},
             dir.path)
            .status,
        0);
    const std::string script = "sed 's/^labels integer/labels text/; s/^label 101$/label \"big\", round/' m > t";
    ASSERT_EQ(launch({.program = "/bin/sh", .work_dir = dir.path, .args = {"-c", script}}).status, 0);
    const RunResult r = tool({"predict", "t", "new", "--predictions", "q", "--scores", "s", "--csv"}, dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = read_text(dir.file("p"));
    for (std::size_t at; (at = expected.find("101")) != std::string::npos;) expected.replace(at, 3, "\"big\", round");
    EXPECT_EQ(read_text(dir.file("q")), expected);
    EXPECT_TRUE(read_text(dir.file("s")).starts_with("\"\"\"big\"\", round\",202,303\n"));
    EXPECT_NE(r.out.find("\n101,10,10,100.000000,9,1,0\n"), std::string::npos) << r.out;  // no model label is 101
    // Labels of numbers count by value: 202 is the model's 0202.
    ASSERT_EQ(
        launch({.program = "/bin/sh", .work_dir = dir.path, .args = {"-c", "sed 's/^label 202$/label 0202/' m > v"}})
            .status,
        0);
    std::string by_value = tool({"predict", "m", "new"}, dir.path).out;
    for (std::size_t at; (at = by_value.find(" 202 |")) != std::string::npos;) by_value.replace(at, 6, " 0202 |");
    EXPECT_EQ(tool({"predict", "v", "new"}, dir.path).out, by_value);
}

TEST(Model, TuneSavesTheModelOfItsBestSettingOnEveryRow) {
    TempDir dir;
    make_parts(dir);
    const RunResult tuned = tool({"tune", "-tr", "parts", "--ranges", "r", "--shuffle", "2", "-e", "1,3", "--margin",
                                  "0,0.5", "--save-model", "tuned"},
                                 dir.path);
    ASSERT_EQ(tuned.status, 0) << tuned.err;
    // "Best: -k gauss -c C [--margin M] -e E --combine HOW, ..." names classify's options.
    const std::size_t from = tuned.out.find("Best: ") + 6;
    std::istringstream best(tuned.out.substr(from, tuned.out.find(", ", from) - from));
    std::vector<std::string> args = {"classify", "-tr",       "parts", "-ts",          "new", "--ranges",
                                     "r",        "--shuffle", "2",     "--save-model", "made"};
    for (std::string word; best >> word;) args.push_back(word);
    ASSERT_EQ(tool(args, dir.path).status, 0);
    EXPECT_EQ(read_text(dir.file("tuned")), read_text(dir.file("made")));
}

}  // namespace
