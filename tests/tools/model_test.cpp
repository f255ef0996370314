// Model files: predict, in a folder of the model and the rows alone, gives
// classify's answers, scores and test report byte for byte under every
// combiner, a seeded order, a margin and saved ranges; ranges travel with
// the model or are given once; labels of text answer as texts; tune saves
// the model classify makes with the best setting. (Refusals are rows of the
// output rule's table; the file's damage is the library's tests'.)
#include <gtest/gtest.h>

#include <sstream>

#include "tools_support.h"

namespace {

const std::string kData = std::string(PROGRAMMA_SOURCE_DIR) + "/Data/";
const std::string kTools = shell_quote(DIGIT_TOOLS_PATH);

// A shell command in `dir` that must succeed.
void sh(const std::string& dir, const std::string& command) {
    const RunResult r = launch({.program = "/bin/sh", .work_dir = dir, .args = {"-c", command}});
    ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
}

// A run of digit-tools in `dir` that must succeed: its standard output.
std::string ran(const std::vector<std::string>& args, const std::string& dir) {
    const RunResult r = tool(args, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

// The parts' rows (raw features, labels 101, 202, 303) as sample sets
// `parts` and `new`, and the training rows' ranges `r`.
void make_parts(const TempDir& dir) {
    const std::string csv = kTools + " convert --from csv --header " + PROGRAMMA_SOURCE_DIR + "/examples/data/";
    sh(dir.path, csv + "parts.csv -o parts && " + csv + "new-parts.csv -o new && " + kTools +
                     " scale --save-ranges r -o parts.scaled parts");
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
        {"average", digits, tests, {"-k", "gauss", "-c", "30", "-e", "3", "--combine", "average", "--shuffle", "5"}},
        {"vote_margin", digits, tests, {"-d", "3", "-e", "2", "--combine", "vote", "--margin", "0.5"}},
        {"ranges", dir.file("parts"), dir.file("new"), {"-k", "gauss", "-c", "1", "--ranges", dir.file("r")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sh(dir.path, "mkdir " + c.name + " && cp " + c.test + " " + c.name + "/rows");
        const std::string trained = ran(with({"classify", "-tr", c.train, "-ts", c.test, "--save-model",
                                              c.name + "/model", "--predictions", "p", "--scores", "s"},
                                             c.args),
                                        dir.path);
        const RunResult predicted =
            tool({"predict", "model", "rows", "--predictions", "p", "--scores", "s"}, dir.file(c.name));
        EXPECT_EQ(predicted.status, 0);
        EXPECT_EQ(predicted.err, "");
        EXPECT_EQ(predicted.out, trained.substr(trained.rfind('\n', trained.find("-class test error")) + 1));
        EXPECT_EQ(read_text(dir.file(c.name + "/p")), read_text(dir.file("p")));
        EXPECT_EQ(read_text(dir.file(c.name + "/s")), read_text(dir.file("s")));
    }
    EXPECT_TRUE(read_text(dir.file("s")).starts_with("101,202,303\n"));
    EXPECT_TRUE(read_text(dir.file("last/s")).starts_with("0,1,2,3,4,5,6,7,8,9\n-"));
}

TEST(Model, RangesTravelWithTheModelOrAreGivenOnce) {
    TempDir dir;
    make_parts(dir);
    const std::vector<std::string> setting = {"-k", "gauss", "-c", "2", "-e", "5", "--combine", "vote"};
    ran(with({"classify", "-tr", "parts", "-ts", "new", "--ranges", "r", "--save-model", "m", "--predictions", "p"},
             setting),
        dir.path);
    // A model of scaled rows, without ranges, takes them from --ranges.
    ran(with({"classify", "-tr", "parts.scaled", "-ts", "parts.scaled", "--save-model", "plain"}, setting), dir.path);
    ran({"predict", "plain", "new", "--ranges", "r", "--predictions", "q"}, dir.path);
    EXPECT_EQ(read_text(dir.file("q")), read_text(dir.file("p")));
    // Rows of features only: the same answers, and a count.
    sh(dir.path, "cut -d' ' -f1-3 new > features");
    EXPECT_EQ(ran({"predict", "m", "features", "--unlabelled", "--predictions", "u", "--csv"}, dir.path),
              "rows_answered\n30\n");
    EXPECT_EQ(read_text(dir.file("u")), read_text(dir.file("p")));

    // Labels of text (as Python saves them) answer as texts, quoted in CSV
    // as CSV quotes them; a test label counts by its text (101 is none of
    // them), and against labels of numbers by its value (202 is 0202).
    sh(dir.path, "sed 's/^labels integer/labels text/; s/^label 101$/label \"big\", round/' m > t");
    const std::string csv = ran({"predict", "t", "new", "--predictions", "q", "--scores", "s", "--csv"}, dir.path);
    std::string texts = read_text(dir.file("p"));
    for (std::size_t at; (at = texts.find("101")) != std::string::npos;) texts.replace(at, 3, "\"big\", round");
    EXPECT_EQ(read_text(dir.file("q")), texts);
    EXPECT_TRUE(read_text(dir.file("s")).starts_with("\"\"\"big\"\", round\",202,303\n"));
    EXPECT_NE(csv.find("\n101,10,10,100.000000,"), std::string::npos) << csv;
    sh(dir.path, "sed 's/^label 202$/label 0202/' m > v");
    std::string by_value = ran({"predict", "m", "new"}, dir.path);
    for (std::size_t at; (at = by_value.find(" 202 |")) != std::string::npos;) by_value.replace(at, 6, " 0202 |");
    EXPECT_EQ(ran({"predict", "v", "new"}, dir.path), by_value);
}

TEST(Model, TuneSavesTheModelOfItsBestSettingOnEveryRow) {
    TempDir dir;
    make_parts(dir);
    const std::string tuned = ran({"tune", "-tr", "parts", "-ts", "new", "--ranges", "r", "--shuffle", "2", "-e", "1,3",
                                   "--margin", "0,0.5", "--save-model", "tuned"},
                                  dir.path);
    // "Best: -k gauss -c C [--margin M] -e E --combine HOW, ..." names classify's options.
    const std::size_t from = tuned.find("Best: ") + 6;
    std::istringstream best(tuned.substr(from, tuned.find(", ", from) - from));
    std::vector<std::string> args = {"classify", "-tr",       "parts", "-ts",          "new", "--ranges",
                                     "r",        "--shuffle", "2",     "--save-model", "made"};
    for (std::string word; best >> word;) args.push_back(word);
    const std::string classified = ran(args, dir.path);
    EXPECT_EQ(read_text(dir.file("tuned")), read_text(dir.file("made")));
    // The test error tune gives from the model it saves is classify's.
    const auto after = [](const std::string& out, const std::string& words) {
        const std::size_t at = out.find(words) + words.size();
        return out.substr(at, out.find('\n', at) - at);
    };
    EXPECT_EQ(after(tuned, "Test error of the best setting: "), after(classified, "-class test error: "));
}

}  // namespace
