// Hostile command lines and surroundings for every digit-tools command,
// grouped by the rule they test: outputs onto inputs, failed writes, names
// that try to reach gnuplot or fake a report, manifests, empty values,
// ranges, refused settings and data, streams. Each row checks the status, the
// message and that every file of the folder (inputs and old outputs) is as it
// was.
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <csignal>
#include <filesystem>
#include <fstream>
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
    std::string out = "";  // a part of standard output
};

const std::string kInjected = "x\nsystem(\"touch pwned\")\n#";
const std::string kFaked = "t\nI was wrong 7 times saying 1 e 7 times saying -1\n";

const std::vector<std::string> kClassify = {"classify", "-tr", "tr", "-ts", "ts"};
const std::vector<std::string> kSweep = {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "1"};
const std::vector<std::string> kTune = {"tune", "-tr", "tr", "--plot", "p.png"};
const std::vector<std::string> kAnswers = {"classify",      "-tr", "tr",     "-ts",  "ts",
                                           "--predictions", "p",   "--plot", "p.png"};
const std::string kVoted = "printf '0 0\\n5 1\\n0.1 0\\n5.1 1\\n' > vtr && printf '0.2 0\\n4.9 1\\n0 1\\n' > vts";
const std::string kMarginLists =
    shell_quote(DIGIT_TOOLS_PATH) + " classify -tr tr -ts ts --margin 0.5 --lists L >/dev/null";
const std::string kSorted = "for i in 1 2 3 4 5 6 7 8 9 10; do cat tr; done | sort -n -k3 > sorted";
const std::string kLongRuns =
    "digit-tools: warning: the training rows come in long runs of one label (the label changes 9 times, about 89 in a "
    "random order), and training visits them in order; give --shuffle SEED to train in a seeded order\n";
const std::string kModel = shell_quote(DIGIT_TOOLS_PATH) + " classify -tr tr -ts ts --save-model m >/dev/null 2>&1";
const std::string kRanges = shell_quote(DIGIT_TOOLS_PATH) + " scale --save-ranges r -o /dev/null tr";
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
    // Standard streams are files of the run too, after links.
    {"standard_input_is_the_output", "", {"convert", "--to", "libsvm", "-", "-o", "tr"}, 1,
     "tr: cannot write: it is the input - (standard input)", "exec <tr;"},
    {"standard_output_appends_to_the_input", "", {"convert", "--to", "libsvm", "tr"}, 1,
     "standard output: cannot write: it is the input tr", "exec >>tr;"},
    {"report_into_the_predictions", "echo 9 > p", with(kClassify, {"--predictions", "p"}), 1,
     "standard output: cannot write: it is the output p", "exec >>p;"},
    {"predictions_to_dev_stdout_in_a_file", "echo 9 > o", with(kClassify, {"--predictions", "/dev/stdout"}), 1,
     "standard output: cannot write: it is the output /dev/stdout", "exec >>o;"},
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
    // The system's reason, and no report of success before the write is done.
    {"converted_output_over_size_limit", "seq 3000 | sed 's/.*/& & 1/' > big && echo > o", {"convert", "--to", "libsvm", "big"}, 1,
     "digit-tools: standard output: cannot write: File too large\n", "ulimit -f 0; exec >>o;"},
    {"shown_output_over_size_limit", "echo '1 2 3 4 0' > sq && echo > o", {"show", "-o", "-", "sq"}, 1,
     "digit-tools: standard output: cannot write: File too large\n", "ulimit -f 0; exec >>o;"},
    {"plot_with_ten_descriptors", "", with(kAnswers, {"-c", "1"}), 0, "", "ulimit -n 10;", false, {"p", "p.png"}},
    {"plot_on_a_device", "", with(kSweep, {"--plot", "/dev/full", "-tr", "tr"}), 1, "/dev/full: cannot write: not a regular"},
    {"predictions_in_read_only_folder", "mkdir ro && chmod 555 ro", with(kClassify, {"--predictions", "ro/p"}), 1,
     "ro/p: cannot write in its folder: Permission denied", "", true},
    {"lists_in_read_only_folder", kOldLists + " && chmod 555 L", with(kClassify, {"--lists", "L"}), 1,
     "L/0.list: cannot write: Permission denied", "", true},
    {"missing_output_folder", "", with(kClassify, {"--plot", "none/p.png"}), 1, "its folder none does not exist"},
    // Names that try to reach gnuplot's script or fake a report line.
    {"name_injecting_gnuplot", "cp tr '" + kInjected + "'",
     with(kSweep, {"--plot", "o.png", "-e", "1", "-tr", kInjected, "-ts", "ts"}), 0, "", "", false, {"o.png"}},
    // Voted runs report answers, not mistakes: digit 0 says "yes" to all three test rows, wrongly to the two ones;
    // digit 1 says "no" to all three, wrongly to the two ones.
    {"sweep_voted_digit_0", kVoted, {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "0-1", "--csv", "-vot", "1",
     "-tr", "vtr", "-ts", "vts"}, 0, "", "", false, {}, "", "\n0,25.000000,66.666672,2,0,"},
    {"sweep_voted_digit_1", kVoted, {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "1", "--csv", "-vot", "1",
     "-tr", "vtr", "-ts", "vts"}, 0, "", "", false, {}, "", "\n1,50.000000,66.666672,0,2,"},
    {"name_faking_a_report_line", "cp tr '" + kFaked + "'", with(kSweep, {"-vot", "1", "-tr", kFaked, "-ts", "ts"}), 0,
     ""},
    // Manifests and lists.
    {"restore_with_other_kernel", "", with(kClassify, {"--restore", "M", "-k", "gauss"}), 2,
     "-k contradicts M/manifest: the lists were made with kernel pol"},
    {"restore_on_other_training_set", "sed 's/^1 2 0/1 2.5 0/' tr > tr2",
     {"classify", "--restore", "M", "-tr", "tr2", "-ts", "ts"}, 1, "tr2: is not the training set the lists in M"},
    {"restore_on_fewer_rows", "head -n 3 tr > tr3", {"classify", "--restore", "M", "-tr", "tr3", "-ts", "ts"}, 1,
     "tr3: has 3 rows of 3 numbers; the lists in M were trained on 10 rows"},
    {"list_holding_text", kOldLists + " && echo word >> L/4.list", with(kClassify, {"--restore", "L"}), 1,
     "L/4.list:2: is not one row index"},
    {"manifest_of_another_run", shell_quote(DIGIT_TOOLS_PATH) + " classify -tr tr -ts ts -e 1 --lists M2 && cp M2/manifest M", with(kClassify, {"--restore", "M"}), 1,
     "M/0.list: is not the list M/manifest records: its bytes differ (another hash)"},
    {"manifest_made_before_list_hashes", "sed -i '/^l/d' M/manifest && echo 1 > M/3.list",
     with(kClassify, {"--restore", "M"}), 0, ""},
    {"manifest_with_another_training_hash", "sed -i 's/^training-xxh3 .*/training-xxh3 0123456789abcdef/' M/manifest",
     with(kClassify, {"--restore", "M"}), 1, "tr: is not the training set the lists in M were trained on"},
    {"epochs_from_the_command_line", "rm M/manifest", with(kClassify, {"--restore", "M", "-e", "1"}), 1,
     "digit-tools: the mistake list of class 0 needs 2 epochs of training, more than the 1 given (-e)\n"},
    {"epochs_from_the_manifest", "sed -i 's/^epochs 2/epochs 1/' M/manifest", with(kClassify, {"--restore", "M"}), 1,
     "digit-tools: the mistake list of class 0 needs 2 epochs of training, more than the 1 given (M/manifest:4)\n"},
    {"list_linked_to_dev_null", "mkdir L && ln -s /dev/null L/3.list", with(kClassify, {"--lists", "L"}), 1,
     "L/3.list: cannot write: not a regular file"},
    {"fifo_as_restored_list", "rm M/3.list && mkfifo M/3.list", with(kClassify, {"--restore", "M"}), 1,
     "M/3.list: is not a regular file"},
    {"fifo_as_manifest", "rm M/manifest && mkfifo M/manifest", with(kClassify, {"--restore", "M"}), 1,
     "M/manifest: is not a regular file"},
    {"fifo_as_shown_list", "mkfifo f", {"show", "--list", "f", "-o", "x.png", "tr"}, 1, "f: is not a regular file"},
    {"manifest_linked_to_dev_zero", "rm M/manifest && ln -s /dev/zero M/manifest", with(kClassify, {"--restore", "M"}),
     1, "M/manifest: is not a regular file"},
    {"manifest_too_large", "head -c 2000000 /dev/zero > M/manifest", with(kClassify, {"--restore", "M"}), 1,
     "M/manifest: is larger than 1048576 bytes"},
    // A folder another run holds (here the shell, through descriptor 9) is left to it.
    {"lists_folder_in_use", "mkdir L", with(kClassify, {"--lists", "L"}), 1,
     "digit-tools: L: another run is using these lists; run again once it is done\n", "exec 9<L; flock -s 9;"},
    {"restore_while_lists_are_written", "", with(kClassify, {"--restore", "M"}), 1,
     "M: another run is writing these lists", "exec 9<M; flock -x 9;"},
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
    {"manifest_constant_nan", "sed -i 's/^kernel pol/kernel gauss/; s/^degree .*/constant nan/' M/manifest",
     with(kClassify, {"--restore", "M"}), 1,
     "digit-tools: M/manifest:3: the gaussian constant must be finite and above 0, not nan\n"},
    // Margins: refused values, and restores that keep the lists' margin or refuse another.
    {"classify_margin_not_a_number", "", with(kClassify, {"--margin", "abc"}), 2, "--margin does not take 'abc'"},
    {"classify_margin_nan", "", with(kClassify, {"--margin", "nan"}), 2,
     "--margin does not take 'nan': the margin must be finite and not below 0, not nan"},
    {"tune_margin_negative", "", with(kTune, {"--margin", "0,-1"}), 2,
     "--margin does not take '-1': the margin must be finite and not below 0, not -1"},
    {"restore_with_a_margin", "", with(kClassify, {"--restore", "M", "--margin", "0.5"}), 2,
     "--margin contradicts M/manifest: the lists were made with kernel pol,degree 2,epochs 2; see"},
    {"restore_keeps_the_lists_margin", kMarginLists, with(kClassify, {"--restore", "L"}), 0, "", "", false, {}, "",
     "Margin 0.5: each list holds the rows that were wrong or too close.\n\n| digit | mistakes |"},
    {"restore_without_the_lists_margin", kMarginLists, with(kClassify, {"--restore", "L", "--margin", "0"}), 2,
     "--margin contradicts L/manifest: the lists were made with kernel pol,degree 2,epochs 2,margin 0.5; see"},
    {"manifest_margin_negative", "sed -i 's/^epochs 2/&\\nmargin -1/' M/manifest", with(kClassify, {"--restore", "M"}), 1,
     "M/manifest: is not a lists manifest: line 5: '-1' is not a value of margin"},
    {"tune_best_setting_reads_back", "", with(kTune, {"-k", "gauss", "-c", "3.1415927", "--margin", "0", "-e", "1", "--in-order"}), 0, "", "", false,
     {"p.png"}, "", "\nBest: -k gauss -c 3.1415927 -e 1 --combine last, "},
    {"standard_input_bad_line", "", {"convert", "--to", "libsvm", "-"}, 1, "digit-tools: -:2: 'x' is not a number\n", "",
     false, {}, "1 2 0\n3 x 1\n"},
    {"classify_unknown_combiner", "", with(kClassify, {"--combine", "most"}), 2, "--combine takes last, average or vote"},
    {"show_odd_features", "echo '1 2 3 4' > odd", {"show", "odd", "-o", "x.png"}, 1,
     "odd: samples have 3 features, not a square image"},
    {"sweep_with_a_failing_run", "", {"sweep", "--programma", PROGRAMMA_PATH, "--digits", "3", "-tr", "none"}, 1,
     "-dg 3 failed with exit status 1"},
    {"label_not_a_whole_number", "printf '0 0 0\\n1 1 1.5\\n' > half", with(kAnswers, {"-tr", "half"}), 1,
     "digit-tools: half: row 1 (counted from 0): label 1.5 is not a whole number\n"},
    // Warnings, the whole of standard error: features beyond [-1, 1] without -c, long runs of one label without --shuffle.
    {"twelve_labels", "seq 0 11 | sed 's/.*/& & &/' > c", {"classify", "-tr", "c", "-ts", "c"}, 0,
     "digit-tools: warning: the training features reach from 0 to 11, beyond [-1, 1]: map them onto it with digit-tools "
     "scale, or take the gaussian constant from the data with -c scale\n", "", false, {}, "",
     "\n| true label \\ answer | 0 | 1 | 2 | 3 | 4 | 5 | 6 | 7 | 8 | 9 | 10 | 11 |\n"},
    {"long_runs_of_one_label", kSorted, {"classify", "-c", "1", "-tr", "sorted", "-ts", "ts"}, 0, kLongRuns},
    {"long_runs_shuffled", kSorted, {"classify", "-c", "1", "--shuffle", "1", "-tr", "sorted", "-ts", "ts"}, 0, ""},
    {"tune_long_runs_of_one_label", kSorted, {"tune", "-k", "gauss", "-c", "1", "-e", "1", "-tr", "sorted"}, 0, kLongRuns},
    {"one_label_alone", "printf '0 0 4\\n1 1 4\\n' > one", with(kAnswers, {"-tr", "one"}), 1,
     "digit-tools: one: every row has the label 4: recognisers need two labels or more to tell apart\n"},
    // The test set is checked before the cross-validation, which would outlast the limit.
    {"tune_test_set_missing", "", {"tune", "-tr", "tr", "-e", "2000000000", "-ts", "missing"}, 1,
     "digit-tools: missing: cannot open: No such file or directory\n", "ulimit -t 5;"},
    {"test_set_wider", "echo '0 0 1 1' > wide", with(kAnswers, {"-ts", "wide"}), 1,
     "digit-tools: wide: samples have 4 numbers, the training set's have 3\n"},
    // The lists are read in order: the bad entry of 7.list (shown as written) is met before 9.list is missed.
    {"list_entry_past_the_rows", kOldLists + " && echo 99999999999999999999 >> L/7.list && rm L/9.list",
     with(kAnswers, {"--restore", "L"}), 1,
     "digit-tools: L/7.list: entry 2 (index 99999999999999999999) names no row of the 10-row training set\n"},
    {"restore_from_a_missing_folder", "", with(kAnswers, {"--restore", "none"}), 1,
     "digit-tools: none: cannot open: No such file or directory\n"},
    // Models: outputs checked first; a damaged model, double scaling and rows of another width refused.
    {"model_onto_training_set", "", with(kClassify, {"--save-model", "tr"}), 1, "digit-tools: tr: cannot write: it is the input tr\n"},
    {"scores_onto_model", kModel, {"predict", "m", "ts", "--scores", "m"}, 1, "digit-tools: m: cannot write: it is the input m\n"},
    {"damaged_model", kModel + " && sed -i 's/^epochs 2$/epochs two/' m", {"predict", "m", "ts", "--predictions", "p"}, 1,
     "digit-tools: m:3: the epochs 'two' are not a count\n"},
    {"ranges_twice", kRanges + " && " + kModel + " --ranges r", {"predict", "m", "ts", "--ranges", "r", "--scores", "s"}, 2,
     "digit-tools predict: --ranges would scale the rows twice: m holds the ranges its training rows were scaled with, "
     "and applies them itself; see digit-tools predict --help\n"},
    {"rows_of_another_width", kModel + " && cut -d' ' -f2- ts > ts2", {"predict", "m", "ts2", "--predictions", "p"}, 1,
     "digit-tools: ts2: samples have 2 numbers; the model takes 2 features and a label\n"},
    {"ranges_beyond_the_rows", "printf 'x\\n-1 1\\n3 0 1\\n' > r3", {"tune", "-tr", "tr", "--ranges", "r3", "--save-model", "m"},
     1, "digit-tools: r3: names feature 3, and the rows of tr have 2 features\n"},
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
        const bool draws = row.status == 0 && std::find(row.args.begin(), row.args.end(), "--plot") != row.args.end();
        if ((row.unprivileged && !nobody_runs) || (draws && !have_gnuplot)) continue;
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
        if (row.message.empty() || row.message.ends_with('\n')) {
            EXPECT_EQ(r.err, row.message);
        } else {
            EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
        }
        EXPECT_NE(r.out.find(row.out), std::string::npos) << r.out;
        if (row.status != 0) {
            EXPECT_EQ(r.out, "");
        }
        EXPECT_EQ(r.out.find("| 7 | 7 |"), std::string::npos) << "a report line faked by a file name";
        auto after = snapshot(dir.path);
        for (const std::string& name : row.created) EXPECT_EQ(after.erase(name), 1u) << name;
        EXPECT_EQ(after, before);
    }
}

// Runs disturbed once under way: by a signal, which ends the run by itself
// with no message and nothing of the run's left (its lists folder, its
// child); or (signal 0) by a change of the training set, which the lists
// must not be saved from.
TEST(OutputRule, DisturbedRunsLeaveNothingBehind) {
    // clang-format off
    const std::vector<std::string> lists = {"classify", "-k", "gauss", "-c", "100", "-e", "20", "-tr", "tr", "-ts", "ts", "--lists", "L"};
    const std::vector<std::string> sweep = {"sweep", "--programma", "./slow", "--digits", "1", "-tr", "tr", "-ts", "ts"};
    // The run is under way once the file awaited is there (the test set is read after the training set).
    const struct { std::vector<std::string> args; std::string awaited; int signal; } cases[] = {
        {lists, "L", SIGINT}, {lists, "L", SIGTERM}, {lists, "L", SIGHUP}, {sweep, "started", SIGTERM}, {lists, "ts", 0}};
    // Random rows, labels 0 to 9: a training of about a second.
    const std::string rows = "awk 'BEGIN { srand(7); for (r = 0; r < 3000; r++) { for (f = 0; f < 16; f++) "
                             "printf \"%f \", rand(); print r % 10 } }' > tr && head -n 1 tr > ts";
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + std::to_string(c.signal));
        TempDir dir;
        launch({.program = "/bin/sh", .work_dir = dir.path, .args = {"-c", rows}});
        write_text(dir.file("slow"), "#!/bin/sh\necho $$ > pid && mv pid started\nexec sleep 60\n");
        ::chmod(dir.file("slow").c_str(), 0755);
        const int watch = ::inotify_init1(IN_CLOEXEC);
        ::inotify_add_watch(watch, dir.path.c_str(), IN_CREATE | IN_MOVED_TO | IN_CLOSE_NOWRITE);
        const std::vector<std::string> shell = {"-c", "exec 2>err; exec \"$0\" \"$@\"", DIGIT_TOOLS_PATH};
        const pid_t run = spawn("/bin/sh", with(shell, c.args), -1, -1, dir.path);
        EXPECT_TRUE(watched(watch, c.awaited, 20000));
        ::close(watch);
        if (c.signal != 0) ::kill(run, c.signal);
        if (c.signal == 0) std::ofstream(dir.file("tr"), std::ios::app) << "1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1\n";
        EXPECT_EQ(wait_for(run), c.signal != 0 ? 128 + c.signal : 1);
        const std::string changed =
            "digit-tools: tr: changed while this run used it, so its bytes may not be those hashed; run again\n";
        EXPECT_EQ(read_text(dir.file("err")), c.signal != 0 ? "" : changed);
        const bool swept = c.args[0] == "sweep";
        EXPECT_EQ(list_dir(dir.path).size(), swept ? 5u : 4u) << "err, slow, (started,) tr, ts and nothing else";
        if (swept) {
            EXPECT_NE(::kill(std::stoi(read_text(dir.file("started"))), 0), 0) << "the program still runs";
        }
    }
}

}  // namespace
