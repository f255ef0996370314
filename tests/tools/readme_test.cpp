// What README.md shows is what the programs give: the sessions of programma
// on the shipped data, the LIBSVM text of the test set and its way back, the
// picture of a run's mistakes, the sweep table, the ten-class table and its
// lists' manifest, the margin sessions, scale's session beside
// scikit-learn's, and the walkthrough from a CSV file to a model's answers.
#include <gtest/gtest.h>

#include <iterator>

#include "tools_support.h"

namespace {

const std::string kSource = PROGRAMMA_SOURCE_DIR;
const std::string kData = kSource + "/Data/";

// The indented block after "    $ <command>" in README.md, unindented, up to
// the next prompt or unindented line; trailing blanks dropped.
std::string readme_block(const std::string& command) {
    std::string shown;
    std::istringstream readme(read_text(kSource + "/README.md"));
    bool inside = false;
    for (std::string line; std::getline(readme, line);) {
        if (inside && ((!line.empty() && !line.starts_with("    ")) || line.starts_with("    $ "))) break;
        while (line.ends_with(' ')) line.pop_back();
        if (inside) shown += (line.empty() ? "" : line.substr(4)) + "\n";
        inside = inside || line == "    $ " + command;
    }
    return shown;
}

// The text without blanks at the ends of its lines and with one final newline.
std::string trimmed(const std::string& text) {
    std::string out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        while (line.ends_with(' ')) line.pop_back();
        out += line + "\n";
    }
    while (out.ends_with("\n\n")) out.pop_back();
    return out;
}

TEST(Readme, SessionsShowTheProgramsOutput) {
    for (const auto& args : {std::vector<std::string>{"-dg", "3", "-e", "5", "-k", "gauss"},
                             std::vector<std::string>{"-vot", "1", "-dg", "3", "-e", "5"}}) {
        std::string command = "./build/release/programma";
        for (const std::string& arg : args) command += " " + arg;
        const RunResult r = launch({.work_dir = kSource, .args = args, .input_from_null = true});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(trimmed(r.out), trimmed(readme_block(command + " < /dev/null"))) << command;
    }
}

TEST(Readme, TestSetThroughLibsvmAndBack) {
    TempDir dir;
    const std::string svm = dir.file("test.svm");
    ASSERT_EQ(tool({"convert", "--to", "libsvm", kData + "Test_set", "-o", svm}).status, 0);
    const std::string head = read_text(svm).substr(0, 60);
    const std::string readme = read_text(kSource + "/README.md");
    EXPECT_NE(readme.find("$ head -c 60 test.svm\n    " + head + "\n"), std::string::npos) << head;
    const RunResult back = tool({"convert", "--from", "libsvm", "--width", "256", svm});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == read_text(kData + "Test_set"));
}

TEST(Readme, MistakePictureComesFromItsCommands) {
    TempDir dir;
    // The README's run, in the repository with its data, the list saved aside.
    const Launch programma{.work_dir = kSource,
                           .args = {"-dg", "3", "-e", "5", "-k", "gauss"},
                           .input = "y\n" + dir.file("three.list") + "\n"};
    ASSERT_EQ(launch(programma).status, 0);
    const RunResult show = tool(
        {"show", "--list", dir.file("three.list"), "--columns", "12", "-o", dir.file("m.png"), kData + "Training_set"});
    EXPECT_EQ(show.err, "digit-tools: drew 45 images into " + dir.file("m.png") + "\n");
    const Png made = read_png(dir.file("m.png"));
    const Png shipped = read_png(kSource + "/docs/mistakes.png");
    EXPECT_TRUE(made.width > 0 && made.width == shipped.width && made.grey == shipped.grey);
}

TEST(Readme, SweepTableComesFromItsCommand) {
    const RunResult run = tool({"sweep", "--programma", PROGRAMMA_PATH, "-k", "gauss", "-e", "5", "-tr",
                                kData + "Training_set", "-ts", kData + "Test_set"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(table_without_seconds(run.out),
              table_without_seconds(read_text(kSource + "/README.md"), "digit-tools sweep --plot"));
}

TEST(Readme, ConfusionTableAndPictureComeFromTheClassifyCommand) {
    TempDir dir;
    const RunResult run = tool(
        {"classify", "-k", "gauss", "-e", "5", "--plot", dir.file("c.png"), "--lists", dir.file("model")}, kSource);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(trimmed(run.out),
              trimmed(readme_block("./build/release/digit-tools classify -k gauss -e 5 --plot docs/confusion.png")));
    EXPECT_EQ(read_text(dir.file("model/manifest")), trimmed(readme_block("cat model/manifest")));
    // gnuplot draws the picture (its fonts vary between machines): the same size as the README's.
    const auto made = read_png(dir.file("c.png")), shipped = read_png(kSource + "/docs/confusion.png");
    EXPECT_TRUE(made.width == shipped.width && made.height == shipped.height && made.width > 0);
}

TEST(Readme, TuneLinesComeFromItsCommand) {
    TempDir dir;
    const std::string command = "./build/release/digit-tools tune -ts Data/Test_set --plot docs/tune.png";
    const RunResult run = tool({"tune", "-ts", "Data/Test_set", "--plot", dir.file("t.png")}, kSource);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream shown(readme_block(command));
    int lines = 0;
    for (std::string line; std::getline(shown, line);) {
        if (line.empty() || line.starts_with("...")) continue;  // the README leaves rows out
        EXPECT_NE(run.out.find(line + "\n"), std::string::npos) << line;
        ++lines;
    }
    EXPECT_EQ(lines, 7);
    EXPECT_EQ(read_png(dir.file("t.png")).width, read_png(kSource + "/docs/tune.png").width);
}

TEST(Readme, MarginSessionsShowTheirWholeOutput) {
    for (const std::string command : {"classify -k gauss -c 30 -e 5 --margin 0.5 --combine vote",
                                      "tune -k gauss -c 30 -e 5 --margin 0,0.5,1 --combine last,vote"}) {
        std::istringstream words(command);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        const RunResult run = tool(args, kSource);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(trimmed(run.out), trimmed(readme_block("./build/release/digit-tools " + command))) << command;
    }
}

// The text of the first fenced block after `marker`.
std::string fenced_after(const std::string& text, const std::string& marker) {
    const std::size_t open = text.find("```", text.find(marker));
    const std::size_t start = text.find('\n', open) + 1;
    return text.substr(start, text.find("```", start) - start);
}

TEST(Readme, ScaleSessionAndTheScikitLearnPipelinePrintWhatTheyShow) {
    TempDir dir;
    const std::string readme = read_text(kSource + "/README.md");
    std::istringstream section(
        readme.substr(readme.find("### scale"), readme.find("### show") - readme.find("### scale")));
    int commands = 0;
    for (std::string line; std::getline(section, line);) {
        if (!line.starts_with("    $ ")) continue;
        std::string command = line.substr(6);
        for (std::size_t at; (at = command.find("./build/release/digit-tools")) != std::string::npos;)
            command.replace(at, 27, DIGIT_TOOLS_PATH);
        const RunResult run = launch({.program = "/bin/bash", .work_dir = dir.path, .args = {"-c", command}});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(trimmed(run.out), trimmed(readme_block(line.substr(6)))) << command;
        ++commands;
    }
    EXPECT_EQ(commands, 5);
    const RunResult python = launch({.program = "/usr/bin/python3",
                                     .work_dir = dir.path,
                                     .args = {"-c", fenced_after(readme, "**The same rows through scikit-learn.**")}});
    if (python.err.find("No module named") != std::string::npos) GTEST_SKIP() << python.err;
    EXPECT_EQ(python.out, fenced_after(readme, "\nprints\n"));
}

// The walkthrough runs as one shell session in a folder that holds the
// built digit-tools and the example data where the README has them; each
// command's standard output is the block under it (a block with "... ("
// shows the output's first and last lines).
TEST(Readme, YourOwnDataWalkthroughPrintsWhatItShows) {
    TempDir dir;
    const std::string readme = read_text(kSource + "/README.md");
    const std::size_t start = readme.find("### Your own data");
    std::istringstream section(readme.substr(start, readme.find("\n## ", start) - start));
    std::vector<std::pair<std::string, std::string>> steps;  // command, output shown
    bool block = false;                                      // prose ends one
    for (std::string line; std::getline(section, line);) {
        if (line.starts_with("    $ ")) {
            steps.push_back({line.substr(6), ""});
        } else if (block && (line.empty() || line.starts_with("    "))) {
            steps.back().second += (line.empty() ? "" : line.substr(4)) + "\n";
        }
        block = line.empty() ? block : line.starts_with("    ");
    }
    std::string script = "mkdir -p build/release examples && ln -s " + shell_quote(DIGIT_TOOLS_PATH) +
                         " build/release/ && ln -s " + shell_quote(kSource + "/examples/data") + " examples/\nset -e\n";
    for (const auto& [command, shown] : steps) script += command + "\nprintf '\\036'\n";
    const RunResult run = launch({.program = "/bin/bash", .work_dir = dir.path, .args = {"-c", script}});
    EXPECT_EQ(run.status, 0) << run.err;
    std::istringstream outputs(run.out);
    std::size_t step = 0;
    for (std::string output; std::getline(outputs, output, '\036'); ++step) {
        ASSERT_LT(step, steps.size());
        const std::string shown = trimmed(steps[step].second + "\n");
        output = trimmed(output + "\n");
        const std::size_t elided = shown.find("... (");
        SCOPED_TRACE(steps[step].first);
        if (elided == std::string::npos) {
            EXPECT_EQ(output, shown);
        } else {
            const std::string last = shown.substr(shown.find('\n', elided) + 1);
            EXPECT_TRUE(output.starts_with(shown.substr(0, elided))) << output;
            EXPECT_TRUE(output.ends_with(last)) << output;
        }
    }
    EXPECT_EQ(step, 14u);
}

}  // namespace
