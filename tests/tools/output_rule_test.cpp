// Hostile command lines and surroundings for every digit-tools command,
// grouped by the rule they test: outputs onto inputs, failed writes, names
// that try to reach gnuplot or fake a report, manifests, empty values,
// ranges, refused settings and data, streams. Each row checks the status, the
// message and that every file of the folder (inputs and old outputs) is as it
// was.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "tools_support.h"

namespace {

namespace fs = std::filesystem;

struct HostileRow {
    std::string name;
    std::string setup;  // shell commands run in the folder first
    std::vector<std::string> args;
    int status;
    std::string message;      // a part of standard error, or with its newline the whole
    std::string prefix = "";  // shell commands before the program
    bool unprivileged = false;
    std::vector<std::string> created{};  // files the run may add
    std::string input = "";
};

const std::string kInjected = "x\nsystem(\"touch pwned\")\n#";
const std::string kFaked = "t\nI was wrong 7 times saying 1 e 7 times saying -1\n";

const std::vector<std::string> kClassify = {"classify", "-tr", "tr", "-ts", "ts"};
const std::vector<std::string> kSweep = {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "1"};
const std::vector<std::string> kTune = {"tune", "-tr", "tr", "--plot", "p.png"};
const std::vector<std::string> kAnswers = {"classify",      "-tr", "tr",     "-ts",  "ts",
                                           "--predictions", "p",   "--plot", "p.png"};
const std::string kOldLists = "mkdir L && for d in 0 1 2 3 4 5 6 7 8 9; do echo 0 > L/$d.list; done";

// The table keeps its rows as written, one or two lines each.
// clang-format off
const std::vector<HostileRow> kRows = {
    // Outputs onto inputs, or onto each other.
    {"predictions_onto_test_set", "", with(kClassify, {"--predictions", "ts"}), 1, "ts: cannot write: it is the input ts"},
    {"list_linked_to_training_set", "mkdir L && ln -s ../tr L/3.list", with(kClassify, {"--lists", "L"}), 1,
     "L/3.list: cannot write: it is the input tr"},
    {"plot_onto_training_set", "", with(kClassify, {"--plot", "tr"}), 1, "tr: cannot write: it is the input tr"},
    {"show_onto_its_set", "", {"show", "-o", "tr", "tr"}, 1, "tr: cannot write: it is the input tr"},
    {"convert_onto_its_input", "", {"convert", "--to", "libsvm", "-o", "tr", "tr"}, 1, "it is the input tr"},
    {"sweep_plot_onto_test_set", "", with(kSweep, {"--plot", "ts", "-tr", "tr", "-ts", "ts"}), 1, "it is the input ts"},
    {"one_file_two_outputs", "", with(kClassify, {"--predictions", "p", "--plot", "./p"}), 1, "named as two outputs"},
    // Failed writes: nothing old is lost, nothing half-written is left.
    {"predictions_over_size_limit", "echo 9 > p", with(kClassify, {"--predictions", "p"}), 1,
     "p: cannot write: File too large", "ulimit -f 0;"},
    // Digit 0 is rare, so its list fits the limit and digit 1's does not.
    {"lists_over_size_limit_half_way",
     kOldLists + " && awk 'BEGIN { srand(1); for (i = 0; i < 2000; i++) print rand(), rand(), (i < 9 ? 0 : 1 + int(rand() * 9)) }' > big",
     {"classify", "--lists", "L", "-tr", "big", "-ts", "tr", "-k", "gauss", "-e", "1"}, 1,
     "L/1.list: cannot save: File too large", "ulimit -f 1;"},
    {"show_over_size_limit", "echo '1 2 3 4 0' > sq", {"show", "-o", "x.png", "sq"}, 1,
     "x.png: cannot write: File too large", "ulimit -f 0;"},
    {"classify_to_full_device", "", kClassify, 1, "standard output: cannot write: No space left on device",
     "exec >/dev/full;"},
    {"sweep_to_full_device", "", with(kSweep, {"-tr", "tr", "-ts", "ts"}), 1, "standard output: cannot write",
     "exec >/dev/full;"},
    {"plot_on_a_device", "", with(kSweep, {"--plot", "/dev/full", "-tr", "tr"}), 1, "/dev/full: cannot write: not a regular"},
    {"predictions_in_read_only_folder", "mkdir ro && chmod 555 ro", with(kClassify, {"--predictions", "ro/p"}), 1,
     "ro/p: cannot write in its folder: Permission denied", "", true},
    {"lists_in_read_only_folder", kOldLists + " && chmod 555 L", with(kClassify, {"--lists", "L"}), 1,
     "L/0.list: cannot write: Permission denied", "", true},
    {"missing_output_folder", "", with(kClassify, {"--plot", "none/p.png"}), 1, "its folder none does not exist"},
    // Names that try to reach gnuplot's script or fake a report line.
    {"name_injecting_gnuplot", "cp tr '" + kInjected + "'",
     with(kSweep, {"--plot", "o.png", "-e", "1", "-tr", kInjected, "-ts", "ts"}), 0, "", "", false, {"o.png"}},
    {"name_faking_a_report_line", "cp tr '" + kFaked + "'", with(kSweep, {"-vot", "1", "-tr", kFaked, "-ts", "ts"}), 0,
     ""},
    // Manifests and lists.
    {"restore_with_other_kernel", "", with(kClassify, {"--restore", "M", "-k", "gauss"}), 2,
     "-k contradicts M/manifest: the lists were made with kernel pol"},
    {"restore_on_other_training_set", "sed 's/^1 2 0/1 2.5 0/' tr > tr2",
     {"classify", "--restore", "M", "-tr", "tr2", "-ts", "ts"}, 1, "tr2: is not the training set the lists in M"},
    {"restore_on_fewer_rows", "head -n 3 tr > tr3", {"classify", "--restore", "M", "-tr", "tr3", "-ts", "ts"}, 1,
     "tr3: has 3 rows of 3 numbers; the lists in M were trained on 10 rows"},
    {"list_holding_text", "echo word >> M/4.list", with(kClassify, {"--restore", "M"}), 1,
     "M/4.list:6: is not one row index"},
    {"broken_manifest", "echo 'epochs 3' >> M/manifest", with(kClassify, {"--restore", "M"}), 1,
     "M/manifest: is not a lists manifest"},
    // Empty values.
    {"empty_restore", "", with(kClassify, {"--restore", ""}), 2, "--restore needs a file name, not an empty one"},
    {"empty_lists", "", with(kClassify, {"--lists", ""}), 2, "--lists needs a file name"},
    {"empty_predictions", "", with(kClassify, {"--predictions", ""}), 2, "--predictions needs a file name"},
    {"empty_plot", "", with(kSweep, {"--plot", ""}), 2, "--plot needs a file name"},
    {"empty_show_output", "", {"show", "-o", "", "tr"}, 2, "-o needs a file name"},
    // Ranges checked before they are expanded; help only where an option stands.
    {"digits_out_of_range", "", with(kSweep, {"--digits", "0-99999999"}), 2, "--digits needs a list of digits 0 to 9"},
    {"rows_out_of_range", "", {"show", "--rows", "0-4294967295", "-o", "x.png", "tr"}, 2, "rows up to 16777215"},
    {"resample_out_of_range", "", {"convert", "--from", "idx", "--resample", "4294967295", "a", "b"}, 2,
     "--resample goes up to 1024"},
    {"help_as_a_value", "", {"classify", "-tr", "tr", "-ts", "-h"}, 1, "-h: cannot open"},
    // Settings and data refused: grid values programma refuses, unknown
    // kernels and combiners, too few folds, more folds than rows, images that
    // are not square, a run of programma that fails.
    {"tune_constant_not_a_number", "", with(kTune, {"-c", "10,abc"}), 2, "-c does not take 'abc'"},
    {"tune_negative_epochs", "", with(kTune, {"-e", "2,-1"}), 2, "-e does not take '-1'"},
    {"tune_unknown_kernel", "", with(kTune, {"-k", "gauss,poly"}), 2, "-k does not take 'poly'"},
    {"tune_empty_item", "", with(kTune, {"-c", "10,,30"}), 2, "without empty items"},
    {"tune_unknown_combiner", "", with(kTune, {"--combine", "last,best"}), 2,
     "--combine takes last, average or vote, not 'best'"},
    {"tune_one_fold", "", with(kTune, {"--folds", "1"}), 2, "--folds needs a whole number from 2"},
    {"tune_more_folds_than_rows", "head -n 3 tr > tr3", {"tune", "-tr", "tr3", "--plot", "p.png", "--folds", "4"}, 1,
     "tr3: 4 folds need as many rows, the set has 3"},
    {"classify_unknown_kernel", "", with(kClassify, {"-k", "poly"}), 2, "-k does not take 'poly'"},
    // Kernel parameters the library's check refuses, whichever kernel runs: status 2, naming the option.
    {"classify_constant_nan", "", with(kClassify, {"-c", "nan"}), 2, "-c does not take 'nan'"},
    {"classify_constant_infinite", "", with(kClassify, {"-c", "inf"}), 2, "-c does not take 'inf'"},
    {"classify_constant_beyond_float", "", with(kClassify, {"-c", "1e39"}), 2,
     "-c does not take '1e39': the gaussian constant must be finite and above 0, not inf;"},
    {"classify_constant_zero", "", with(kClassify, {"-c", "0"}), 2,
     "-c does not take '0': the gaussian constant must be finite and above 0, not 0;"},
    {"classify_constant_negative", "", with(kClassify, {"-k", "gauss", "-c", "-5"}), 2,
     "-c does not take '-5': the gaussian constant must be finite and above 0, not -5;"},
    {"classify_constant_negative_nan", "", with(kClassify, {"-k", "gauss", "-c", "-nan"}), 2,
     "-c does not take '-nan': the gaussian constant must be finite and above 0, not -nan;"},
    {"tune_degree_zero", "", with(kTune, {"-d", "2,0"}), 2,
     "-d does not take '0': the polynomial degree must be finite and above 0, not 0;"},
    {"manifest_degree_refused", "sed -i 's/^degree .*/degree 0/' M/manifest", with(kClassify, {"--restore", "M"}), 1,
     "digit-tools: M/manifest: the polynomial degree must be finite and above 0, not 0\n"},
    {"standard_input_bad_line", "", {"convert", "--to", "libsvm", "-"}, 1, "digit-tools: -:2: 'x' is not a number\n", "",
     false, {}, "1 2 0\n3 x 1\n"},
    {"classify_unknown_combiner", "", with(kClassify, {"--combine", "most"}), 2, "--combine takes last, average or vote"},
    {"show_odd_features", "echo '1 2 3 4' > odd", {"show", "odd", "-o", "x.png"}, 1,
     "odd: samples have 3 features, not a square image"},
    {"sweep_with_a_failing_run", "", {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "3", "-tr", "none"}, 1,
     "-dg 3 failed with exit status 1"},
    {"label_not_a_whole_number", "printf '0 0 0\\n1 1 1.5\\n' > half", with(kAnswers, {"-tr", "half"}), 1,
     "digit-tools: half: row 2: label 1.5 is not a whole number from 0 to 9\n"},
    {"label_past_9", "printf '0 0 0\\n5 5 10\\n' > ten", with(kAnswers, {"-ts", "ten"}), 1,
     "digit-tools: ten: row 2: label 10 is not a whole number from 0 to 9\n"},
    {"test_set_wider", "echo '0 0 1 1' > wide", with(kAnswers, {"-ts", "wide"}), 1,
     "digit-tools: wide: samples have 4 numbers, the training set's have 3\n"},
    // The lists are read in order: the bad entry of 7.list is met before 9.list is missed.
    {"list_entry_past_the_rows", kOldLists + " && echo 10 >> L/7.list && rm L/9.list", with(kAnswers, {"--restore", "L"}),
     1, "digit-tools: L/7.list: entry 2 (index 10) names no row of the 10-row training set\n"},
    {"restore_from_a_missing_folder", "", with(kAnswers, {"--restore", "none"}), 1,
     "digit-tools: none/0.list: cannot open: No such file or directory\n"},
    // Streams: sample sets are read twice, outputs must be files.
    {"fifo_as_training_set", "mkfifo f", {"classify", "-tr", "f", "-ts", "ts"}, 1, "f: is not a regular file"},
    {"fifo_as_shown_set", "mkfifo f", {"show", "-o", "x.png", "f"}, 1, "f: is not a regular file"},
    {"fifo_as_predictions", "mkfifo f", with(kClassify, {"--predictions", "f"}), 1, "f: cannot write: not a regular"},
    {"standard_input_converted", "", {"convert", "--to", "libsvm", "-"}, 0, "", "", false, {}, "1 2 0\n"},
};
// clang-format on

const std::string kSet = "1 2 0\n3 4 1\n2 2 2\n5 5 3\n1 1 4\n0 0 5\n3 3 6\n4 4 7\n6 6 8\n7 7 9\n";

// Every entry under `root`: a file's bytes, a link's target, or "<folder>".
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        if (entry.is_symlink())
            entries[name] = "-> " + fs::read_symlink(entry.path()).string();
        else if (entry.is_regular_file())
            entries[name] = read_text(entry.path().string());
        else
            entries[name] = "<other>";
    }
    return entries;
}

TEST(OutputRule, HostileRowsKeepEveryFile) {
    std::string why;
    const bool nobody_runs = unprivileged_runs_possible(why);
    const bool have_gnuplot = launch({.program = "/bin/sh", .args = {"-c", "command -v gnuplot"}}).status == 0;
    for (const HostileRow& row : kRows) {
        SCOPED_TRACE(row.name);
        if ((row.unprivileged && !nobody_runs) || (row.name == "name_injecting_gnuplot" && !have_gnuplot)) continue;
        TempDir dir;
        write_text(dir.file("tr"), kSet);
        write_text(dir.file("ts"), kSet);
        ASSERT_EQ(tool({"classify", "-tr", dir.file("tr"), "-ts", dir.file("ts"), "--lists", dir.file("M")}).status, 0);
        if (!row.setup.empty()) {
            ASSERT_EQ(launch({.program = "/bin/sh", .work_dir = dir.path, .args = {"-c", row.setup}}).status, 0);
        }
        const auto before = snapshot(dir.path);
        const RunResult r = launch({.program = DIGIT_TOOLS_PATH,
                                    .work_dir = dir.path,
                                    .args = row.args,
                                    .input = row.input,
                                    .shell_prefix = row.prefix,
                                    .unprivileged = row.unprivileged});
        EXPECT_EQ(r.status, row.status) << r.err;
        if (row.message.ends_with('\n')) {
            EXPECT_EQ(r.err, row.message);
        } else {
            EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        }
        if (row.status != 0) {
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(r.out.find("| 7 | 7 |"), std::string::npos) << "a report line faked by a file name";
        auto after = snapshot(dir.path);
        for (const std::string& name : row.created) EXPECT_EQ(after.erase(name), 1u) << name;
        EXPECT_EQ(after, before);
    }
}

}  // namespace
