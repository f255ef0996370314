// The bad-input matrix: the built program run on one bad input per row, with
// its exit status, its whole standard output and its whole standard error
// checked. Every row is its own test (BadInput/Matrix.Case/<name>).
//
// Rows cover every command-line refusal; a missing, empty, unreadable and
// directory path for each file option (-tr, -ts, -l); sample-file layouts that
// are accepted and contents that are refused; restored lists that name no
// row; the end of input at every point of the save dialogue; saves that cannot
// be made; and extreme kernel parameters.
//
// Rows marked `unprivileged` run as the user nobody when the tests run as
// root (root reads mode-000 files and writes into read-only folders), and rows
// marked `root` need a private device node (mknod); they are skipped where
// that cannot be had.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "reliability_support.h"

namespace {

enum class Needs { nothing, unprivileged, root };

struct Case {
    std::string name;
    std::vector<std::string> args;
    std::function<void(const TempDir&)> setup = nullptr;  // extra files
    std::string input;                                    // standard input ...
    bool input_from_null = false;                         // ... or /dev/null
    int status = 0;
    std::string out;  // the whole standard output
    std::string err;  // the whole standard error
    Needs needs = Needs::nothing;
    std::function<void(const TempDir&)> check = nullptr;  // files afterwards
};

// --- The files every row finds in its folder ----------------------------

// The gaussian kernel perceptron run: digit 1, constant 1, 2 epochs.
const char kTrain[] = "0 0\n5 1\n0.1 0\n5.1 1\n";
const char kTest[] = "0.2 0\n4.9 1\n0 1\n";
// The polynomial run (traces every evaluation).
const char kPolTrain[] = "1 0\n2 1\n";
const char kPolTest[] = "1 0\n";
// The voted run.
const char kVotedTrain[] = "1 0 1\n0 1 0\n1 0 1\n";
const char kVotedTest[] = "0 1 0\n0 -1 1\n0 -3 1\n";

std::vector<std::string> gauss(const std::string& tr = "train", const std::string& ts = "test",
                               std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"-tr", tr, "-ts", ts, "-dg", "1", "-k", "gauss", "-c", "1", "-e", "2"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::vector<std::string> restoring(const std::string& list) { return gauss("train", "test", {"-l", list}); }

std::vector<std::string> pol(std::vector<std::string> extra) {
    std::vector<std::string> args = {"-tr", "ptrain", "-ts", "ptest", "-dg", "1", "-e", "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::vector<std::string> voted(const std::string& tr, const std::string& ts) {
    return {"-vot", "1", "-tr", tr, "-ts", ts, "-dg", "1", "-e", "2"};
}

// --- Pieces of standard output ------------------------------------------

std::string header(const std::string& tr = "train", const std::string& ts = "test",
                   const std::string& constant = "1") {
    return "Starting training for 1 digit with gaussian kernel and " + constant +
           " as constant for 2 epocs \nTraining set loaded from " + tr + "\nTest loaded from " + ts +
           "\n";
}

std::string list_header(const std::string& list) {
    return "Starting training for 1 digit with gaussian kernel and 1 as constant for 2 epocs \n"
           "List loaded from " +
           list + "\nTest loaded from test\n";
}

const std::string kDims = "Training set dimension are 4x2\n";
const std::string kTraining =
    "I classified 2 times 1 e 2 times -1\n"
    "I classified 2 times 1 e 2 times -1\n"
    "End training with 0.000000% error\n";
const std::string kPrompt = "Do you want to save the list? [y|n] \n";
const std::string kTesting =
    "Start testing\n"
    "I classified 1 times 1 e 2 times -1\n"
    "I was wrong 0 times saying 1 e 1 times saying -1\n"
    "End testing with 33.333336% error\n\n\n\n";
// What an empty restored list gives: every test row is called the digit.
const std::string kEmptyListTesting =
    "Start testing\n"
    "I classified 3 times 1 e 0 times -1\n"
    "I was wrong 1 times saying 1 e 0 times saying -1\n"
    "End testing with 33.333336% error\n\n\n\n";
// Two epochs in which every training row is called the digit, then a test
// that does the same.
const std::string kEveryRowTheDigit =
    "I classified 4 times 1 e 0 times -1\n"
    "I classified 4 times 1 e 0 times -1\n"
    "End training with 50.000000% error\n" +
    kPrompt + kEmptyListTesting;
const std::string kWholeRun = header() + kDims + kTraining + kPrompt + kTesting;
const std::string kUntilPrompt = header() + kDims + kTraining + kPrompt;

std::string voted_header(const std::string& tr, const std::string& ts) {
    return "Starting training for 1 digit with voted perceptron algoritm for 2 epocs \n"
           "Training set loaded from " +
           tr + "\nTest loaded from " + ts + "\n";
}

std::string pol_header(const std::string& degree) {
    return "Starting training for 1 digit with polinomial kernel of " + degree +
           " degree for 1 epocs \nTraining set loaded from ptrain\nTest loaded from ptest\n"
           "Training set dimension are 2x2\n";
}

std::string error_line(const std::string& message) { return "programma: " + message + "\n"; }

// --- Files made by single rows ------------------------------------------

std::function<void(const TempDir&)> file(const std::string& name, const std::string& text,
                                         mode_t mode = 0644) {
    return [=](const TempDir& dir) {
        write_text(dir.file(name), text);
        ::chmod(dir.file(name).c_str(), mode);
    };
}

std::function<void(const TempDir&)> folder(const std::string& name, mode_t mode = 0755) {
    return [=](const TempDir& dir) {
        ::mkdir(dir.file(name).c_str(), mode);
        ::chmod(dir.file(name).c_str(), mode);
    };
}

std::function<void(const TempDir&)> file_holds(const std::string& name, const std::string& text) {
    return [=](const TempDir& dir) { EXPECT_EQ(read_text(dir.file(name)), text) << name; };
}

std::function<void(const TempDir&)> only_files(std::vector<std::string> extra) {
    return [=](const TempDir& dir) {
        std::vector<std::string> expected = {"train", "test", "ptrain", "ptest", "vtrain", "vtest"};
        expected.insert(expected.end(), extra.begin(), extra.end());
        std::vector<std::string> names = list_dir(dir.path);
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected);
    };
}

std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

std::vector<Case> command_line_refusals() {
    const std::vector<std::pair<std::string, std::vector<std::string>>> rows = {
        {"lone_option_even_argc", {"-e"}},
        {"odd_count_missing_value", {"-dg", "3", "-e"}},
        {"unknown_option", {"-x", "1"}},
        {"value_where_option_belongs", {"3", "-dg"}},
        {"option_in_capitals", {"-DG", "2"}},
        {"refusal_after_accepted_pair", {"-dg", "2", "--tr", "a"}},
        {"adaboost_flag_2", {"-a", "2"}},
        {"adaboost_flag_empty", {"-a", ""}},
        {"voted_flag_01", {"-vot", "01"}},
        {"voted_flag_true", {"-vot", "true"}},
        {"kernel_poly", {"-k", "poly"}},
        {"kernel_empty", {"-k", ""}},
        {"digit_10", {"-dg", "10"}},
        {"digit_negative", {"-dg", "-1"}},
        {"digit_letter", {"-dg", "x"}},
        {"digit_beyond_int", {"-dg", "4294967299"}},
        {"epochs_negative", {"-e", "-1"}},
        {"epochs_letter", {"-e", "abc"}},
        {"epochs_int_max_plus_1", {"-e", "2147483648"}},
        {"epochs_huge", {"-e", "99999999999999999999"}},
        {"constant_letter", {"-c", "big"}},
        {"constant_nan_word", {"-c", "nan"}},
        {"degree_letter", {"-d", "x2"}},
        {"degree_inf_word", {"-d", "inf"}},
    };
    std::vector<Case> cases;
    for (const auto& [name, args] : rows) {
        Case c;
        c.name = "refused_" + name;
        c.args = args;
        c.input_from_null = true;
        c.status = 0;
        c.out = usage_text(PROGRAMMA_PATH);
        c.err = "";
        cases.push_back(c);
    }
    return cases;
}

std::vector<Case> file_option_cases() {
    std::vector<Case> cases;
    // -tr: the run stops before its dimension line.
    cases.push_back({"tr_missing", gauss("absent"), nullptr, "n\n", false, 1,
                     header("absent") + "ERRORE NEL FILE",
                     error_line("absent: cannot open: No such file or directory")});
    cases.push_back({"tr_empty", gauss("empty"), file("empty", ""), "n\n", false, 1, header("empty"),
                     error_line("empty: holds no sample line")});
    cases.push_back({"tr_blank_lines_only", gauss("blank"), file("blank", "\n \t\n\r\n"), "n\n", false,
                     1, header("blank"), error_line("blank: holds no sample line")});
    cases.push_back({"tr_unreadable", gauss("locked"), file("locked", kTrain, 0), "n\n", false, 1,
                     header("locked") + "ERRORE NEL FILE",
                     error_line("locked: cannot open: Permission denied"), Needs::unprivileged});
    cases.push_back({"tr_directory", gauss("sub"), folder("sub"), "n\n", false, 1, header("sub"),
                     error_line("sub: cannot read: Is a directory")});
    // -ts: the run stops after training and the save dialogue.
    cases.push_back({"ts_missing", gauss("train", "absent"), nullptr, "n\n", false, 1,
                     header("train", "absent") + kDims + kTraining + kPrompt + "ERRORE NEL FILE",
                     error_line("absent: cannot open: No such file or directory")});
    cases.push_back({"ts_empty", gauss("train", "empty"), file("empty", ""), "n\n", false, 1,
                     header("train", "empty") + kDims + kTraining + kPrompt,
                     error_line("empty: holds no sample line")});
    cases.push_back({"ts_unreadable", gauss("train", "locked"), file("locked", kTest, 0), "n\n", false,
                     1, header("train", "locked") + kDims + kTraining + kPrompt + "ERRORE NEL FILE",
                     error_line("locked: cannot open: Permission denied"), Needs::unprivileged});
    cases.push_back({"ts_directory", gauss("train", "sub"), folder("sub"), "n\n", false, 1,
                     header("train", "sub") + kDims + kTraining + kPrompt,
                     error_line("sub: cannot read: Is a directory")});
    // -l: the run stops after the training set's dimension line.
    cases.push_back({"l_missing", restoring("absent"), nullptr, "", false, 1,
                     list_header("absent") + kDims,
                     error_line("absent: cannot open: No such file or directory")});
    cases.push_back({"l_empty_is_an_empty_list", restoring("empty"), file("empty", ""), "", false, 0,
                     list_header("empty") + kDims + kEmptyListTesting, ""});
    cases.push_back({"l_unreadable", restoring("locked"), file("locked", "0\n1\n", 0), "", false, 1,
                     list_header("locked") + kDims, error_line("locked: cannot open: Permission denied"),
                     Needs::unprivileged});
    cases.push_back({"l_directory", restoring("sub"), folder("sub"), "", false, 1,
                     list_header("sub") + kDims, error_line("sub: cannot read: Is a directory")});
    // The voted method reports the same way.
    cases.push_back({"voted_tr_missing", voted("absent", "vtest"), nullptr, "", true, 1,
                     voted_header("absent", "vtest") + "ERRORE NEL FILE",
                     error_line("absent: cannot open: No such file or directory")});
    cases.push_back({"voted_ts_directory", voted("vtrain", "sub"), folder("sub"), "", true, 1,
                     voted_header("vtrain", "sub") +
                         "Training set dimension are 3x3\n"
                         "ho fatto la 0-esima epoca, 1 errori, 2 right"
                         "ho fatto la 1-esima epoca, 0 errori, 3 right"
                         "End training with 0.000000% error\n",
                     error_line("sub: cannot read: Is a directory")});
    return cases;
}

std::vector<Case> sample_content_cases() {
    std::vector<Case> cases;
    // Accepted layouts: the same run as with the plain file.
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"last_line_without_newline", "0 0\n5 1\n0.1 0\n5.1 1"},
        {"trailing_blank_lines", "0 0\n5 1\n0.1 0\n5.1 1\n\n\n \t\n\n"},
        {"tabs", "0\t0\n5\t1\n\t0.1\t0\t\n5.1\t\t1\n"},
        {"crlf", "0 0\r\n5 1\r\n0.1 0\r\n5.1 1\r\n"},
        {"blank_lines_between", "\n0 0\n\n5 1\n \n0.1 0\n\r\n5.1 1\n"},
        {"other_spellings", "0e0 -0\n+5 1.\n1e-1 0x0\n5.10 1e0\n"},
    };
    for (const auto& [name, text] : accepted) {
        cases.push_back({"accepted_" + name, gauss("layout"), file("layout", text), "n\n", false, 0,
                         header("layout") + kDims + kTraining + kPrompt + kTesting, ""});
    }
    // Refused contents: the diagnostic names the file and the line.
    cases.push_back({"ragged_line", gauss("ragged"), file("ragged", "0 0\n5\n0.1 0\n"), "n\n", false, 1,
                     header("ragged") + "Training set dimension are 3x2\n",
                     error_line("ragged:2: holds 1 numbers, expected 2 like the first sample line")});
    cases.push_back({"wider_line_after_blank", gauss("wide"), file("wide", "0 0\n\n5 1 2\n"), "n\n",
                     false, 1, header("wide") + "Training set dimension are 2x2\n",
                     error_line("wide:3: holds 3 numbers, expected 2 like the first sample line")});
    cases.push_back({"non_number_token", gauss("word"), file("word", "0 0\n5 one\n"), "n\n", false, 1,
                     header("word") + "Training set dimension are 2x2\n",
                     error_line("word:2: 'one' is not a number")});
    cases.push_back({"decimal_comma", gauss("comma"), file("comma", "0 0\n\n0,5 1\n"), "n\n", false, 1,
                     header("comma") + "Training set dimension are 2x2\n",
                     error_line("comma:3: '0,5' is not a number")});
    cases.push_back({"number_glued_to_text", gauss("glued"), file("glued", "0 0\n5 1x\n"), "n\n", false,
                     1, header("glued") + "Training set dimension are 2x2\n",
                     error_line("glued:2: '1x' is not a number")});
    // Bytes that are not printable ASCII are shown escaped (finding 3).
    cases.push_back({"binary_bytes_in_a_token", gauss("binary"),
                     file("binary", std::string("0 0\n1 \0\x01" "ELF\x1b[2J\xff\n", 17)), "n\n", false,
                     1, header("binary") + "Training set dimension are 2x2\n",
                     error_line("binary:2: '\\x00\\x01ELF\\x1b[2J\\xff' is not a number")});
    cases.push_back({"bad_token_in_test_set", gauss("train", "badtest"), file("badtest", "0 0\n1 ?\n"),
                     "n\n", false, 1, header("train", "badtest") + kDims + kTraining + kPrompt,
                     error_line("badtest:2: '?' is not a number")});
    cases.push_back({"test_set_other_columns", gauss("train", "wide"), file("wide", "1 2 1\n"), "n\n",
                     false, 1, header("train", "wide") + kDims + kTraining + kPrompt,
                     error_line("wide: samples have 3 numbers, the training set's have 2")});
    cases.push_back({"voted_test_set_other_columns", voted("vtrain", "test"), nullptr, "", true, 1,
                     voted_header("vtrain", "test") +
                         "Training set dimension are 3x3\n"
                         "ho fatto la 0-esima epoca, 1 errori, 2 right"
                         "ho fatto la 1-esima epoca, 0 errori, 3 right"
                         "End training with 0.000000% error\n"
                         "Test set dimension are 3x2\n",
                     error_line("test: samples have 2 numbers, the training set's have 3")});
    // A 1 MB line: too long for the first line's width, then a 1 MB token
    // (files from 1 MiB on go through the fast engine's mapped loader).
    const std::string long_line = repeated("0.25 ", 200000);
    cases.push_back({"one_mb_ragged_line", gauss("long"), file("long", "0 0\n" + long_line + "\n"), "n\n",
                     false, 1, header("long") + "Training set dimension are 2x2\n",
                     error_line("long:2: holds 200000 numbers, expected 2 like the first sample line")});
    cases.push_back({"one_mb_ragged_line_mapped", gauss("long"),
                     file("long", "0 0\n" + long_line + long_line + "\n"), "n\n", false, 1,
                     header("long") + "Training set dimension are 2x2\n",
                     error_line("long:2: holds 400000 numbers, expected 2 like the first sample line")});
    // A bad token deep in a 1.2 MB file: the line number counts every line.
    cases.push_back({"bad_token_deep_in_a_big_file", gauss("big"),
                     file("big", repeated("0 0\n", 249999) + "0 x\n" + repeated("\n5 1\n", 25000)),
                     "n\n", false, 1, header("big") + "Training set dimension are 275000x2\n",
                     error_line("big:250000: 'x' is not a number")});
    cases.push_back({"one_mb_token", gauss("token"),
                     file("token", "0 0\n1 " + repeated("9", 1 << 20) + "x\n"), "n\n", false, 1,
                     header("token") + "Training set dimension are 2x2\n",
                     error_line("token:2: '" + repeated("9", 40) + "...' is not a number")});
    // NaN and infinite values, as features and as labels, and a label of 3.5,
    // are numbers: they load, and labels that are not the digit count as -1.
    cases.push_back({"nan_and_inf_features", gauss("odd"),
                     file("odd", "nan 0\n5 1\ninf 0\n-inf 1\n"), "n\n", false, 0,
                     header("odd") + kDims +
                         kEveryRowTheDigit,
                     ""});
    cases.push_back({"nan_and_inf_labels", gauss("labels"),
                     file("labels", "0 nan\n5 1\n0.1 inf\n5.1 -inf\n"), "n\n", false, 0,
                     header("labels") + kDims +
                         "I classified 2 times 1 e 2 times -1\n"
                         "I classified 1 times 1 e 3 times -1\n"
                         "End training with 0.000000% error\n" +
                         kPrompt + kTesting,
                     ""});
    cases.push_back({"label_3_5", {"-tr", "half", "-ts", "test", "-dg", "3", "-k", "gauss", "-c", "1", "-e", "1"},
                     file("half", "0 3.5\n5 3\n"), "n\n", false, 0,
                     "Starting training for 3 digit with gaussian kernel and 1 as constant for 1 epocs \n"
                     "Training set loaded from half\nTest loaded from test\n"
                     "Training set dimension are 2x2\n"
                     "I classified 1 times 1 e 1 times -1\n"
                     "End training with 100.000000% error\n" +
                         kPrompt +
                         "Start testing\n"
                         "I classified 1 times 1 e 2 times -1\n"
                         "I was wrong 1 times saying 1 e 0 times saying -1\n"
                         "End testing with 33.333336% error\n\n\n\n",
                     ""});
    return cases;
}

std::vector<Case> restored_list_cases() {
    std::vector<Case> cases;
    cases.push_back({"l_index_past_the_rows", restoring("far"), file("far", "0\n4\n"), "", false, 1,
                     list_header("far") + kDims,
                     error_line("far: entry 2 (index 4) names no row of the 4-row training set")});
    cases.push_back({"l_negative_index", restoring("negative"), file("negative", "1\n-3\n"), "", false, 1,
                     list_header("negative") + kDims,
                     error_line("negative: entry 2 (index 4294967295) names no row of the 4-row "
                                "training set")});
    cases.push_back({"l_index_beyond_32_bits", restoring("huge"), file("huge", "99999999999\n"), "",
                     false, 1, list_header("huge") + kDims,
                     error_line("huge: entry 1 (index 4294967295) names no row of the 4-row training set")});
    // Reading stops quietly at the first thing that is not a number.
    cases.push_back({"l_non_number_is_an_empty_list", restoring("word"), file("word", "abc\n1\n"), "",
                     false, 0, list_header("word") + kDims + kEmptyListTesting, ""});
    cases.push_back({"l_reading_stops_at_text", restoring("partly"), file("partly", "0\n1\nxyz\n4\n"), "",
                     false, 0, list_header("partly") + kDims + kTesting, ""});
    return cases;
}

std::vector<Case> save_dialogue_cases() {
    std::vector<Case> cases;
    // The end of input at every point of the dialogue.
    cases.push_back({"eof_before_the_answer", gauss(), nullptr, "", false, 0, kWholeRun, ""});
    cases.push_back({"eof_after_characters_that_answer_nothing", gauss(), nullptr, "abc\n\t", false, 0,
                     kWholeRun, ""});
    cases.push_back({"eof_right_after_n", gauss(), nullptr, "n", false, 0, kWholeRun, ""});
    for (const auto& [name, input] : std::vector<std::pair<std::string, std::string>>{
             {"eof_right_after_y", "y"}, {"eof_inside_the_answer_line", "yes please"},
             {"eof_after_the_answer_line", "y\n"}}) {
        cases.push_back({name, gauss(), nullptr, input, false, 1, kUntilPrompt + "Save file as :",
                         error_line("no file name to save the list as (end of input)"), Needs::nothing,
                         only_files({})});
    }
    cases.push_back({"eof_inside_the_name", gauss(), nullptr, "y\nL", false, 0,
                     kUntilPrompt + "Save file as :file saved as L" + kTesting, "", Needs::nothing,
                     file_holds("L", "0\n1\n")});
    cases.push_back({"eof_after_the_name", gauss(), nullptr, "y\nsaved list\n", false, 0,
                     kUntilPrompt + "Save file as :file saved as saved list" + kTesting, "",
                     Needs::nothing, file_holds("saved list", "0\n1\n")});
    // Saves that cannot be made stop the run.
    cases.push_back({"save_empty_name", gauss(), nullptr, "y\n\n", false, 1,
                     kUntilPrompt + "Save file as :", error_line("cannot save: the file name is empty"),
                     Needs::nothing, only_files({})});
    cases.push_back({"save_onto_a_directory", gauss(), folder("sub"), "y\nsub\n", false, 1,
                     kUntilPrompt + "Save file as :", error_line("sub: cannot save: Is a directory"),
                     Needs::nothing, only_files({"sub"})});
    cases.push_back({"save_into_a_missing_folder", gauss(), nullptr, "y\nno/such/list\n", false, 1,
                     kUntilPrompt + "Save file as :",
                     error_line("no/such/list: cannot save: No such file or directory"), Needs::nothing,
                     only_files({})});
    cases.push_back({"save_into_a_read_only_folder", gauss(), folder("ro", 0555), "y\nro/list\n", false,
                     1, kUntilPrompt + "Save file as :",
                     error_line("ro/list: cannot save: Permission denied"), Needs::unprivileged,
                     [](const TempDir& dir) { EXPECT_TRUE(list_dir(dir.file("ro")).empty()); }});
    // A loop of symbolic links is refused, not replaced by a file (finding 2).
    cases.push_back({"save_through_a_symbolic_link_loop", gauss(),
                     [](const TempDir& dir) {
                         ASSERT_EQ(::symlink("b", dir.file("a").c_str()), 0);
                         ASSERT_EQ(::symlink("a", dir.file("b").c_str()), 0);
                     },
                     "y\na\n", false, 1, kUntilPrompt + "Save file as :",
                     error_line("a: cannot save: Too many levels of symbolic links"), Needs::nothing,
                     [](const TempDir& dir) {
                         struct stat info {};
                         ASSERT_EQ(::lstat(dir.file("a").c_str(), &info), 0);
                         EXPECT_TRUE(S_ISLNK(info.st_mode));
                         ASSERT_EQ(::lstat(dir.file("b").c_str(), &info), 0);
                         EXPECT_TRUE(S_ISLNK(info.st_mode));
                         only_files({"a", "b"})(dir);
                     }});
    cases.push_back({"save_onto_a_full_device", gauss(),
                     [](const TempDir& dir) { ASSERT_TRUE(make_device(dir.file("full"), 1, 7)); },
                     "y\nfull\n", false, 1, kUntilPrompt + "Save file as :",
                     error_line("full: cannot save: No space left on device"), Needs::root,
                     [](const TempDir& dir) {
                         struct stat info {};
                         ASSERT_EQ(::lstat(dir.file("full").c_str(), &info), 0);
                         EXPECT_TRUE(S_ISCHR(info.st_mode));  // written in place, never replaced
                         only_files({"full"})(dir);
                     }});
    return cases;
}

std::vector<Case> parameter_cases() {
    std::vector<Case> cases;
    // Gaussian constants: 0, negative, beyond the float range (infinite).
    cases.push_back({"gauss_constant_0", gauss("train", "test", {"-c", "0"}), nullptr, "n\n", false, 0,
                     header("train", "test", "0") + kDims +
                         kEveryRowTheDigit,
                     ""});
    cases.push_back({"gauss_constant_negative", gauss("train", "test", {"-c", "-1"}), nullptr, "n\n",
                     false, 0,
                     header("train", "test", "-1") + kDims +
                         "I classified 2 times 1 e 2 times -1\n"
                         "I classified 2 times 1 e 2 times -1\n"
                         "End training with 100.000000% error\n" +
                         kPrompt +
                         "Start testing\n"
                         "I classified 2 times 1 e 1 times -1\n"
                         "I was wrong 1 times saying 1 e 1 times saying -1\n"
                         "End testing with 66.666672% error\n\n\n\n",
                     ""});
    cases.push_back({"gauss_constant_huge", gauss("train", "test", {"-c", "1e39"}), nullptr, "n\n", false,
                     0,
                     header("train", "test", "-2147483648") + kDims +
                         "I classified 2 times 1 e 2 times -1\n"
                         "I classified 2 times 1 e 2 times -1\n"
                         "End training with 100.000000% error\n" +
                         kPrompt + kEmptyListTesting,
                     ""});
    // Polynomial degrees: 0, negative, huge (the trace shows the kernel values).
    cases.push_back({"pol_degree_0", pol({"-d", "0"}), nullptr, "", true, 0,
                     pol_header("0") +
                         "Arg 1 nan nan 0.000000 0.000000result vale 1.000000"
                         "I classified 1 times 1 e 1 times -1\n"
                         "End training with 100.000000% error\n" +
                         kPrompt +
                         "Start testing\n"
                         "Arg 1 nan nan 0.000000 0.000000result vale 1.000000"
                         "Arg 1 nan nan 1.000000 0.000000result vale 1.000000"
                         "I classified 1 times 1 e 0 times -1\n"
                         "I was wrong 1 times saying 1 e 0 times saying -1\n"
                         "End testing with 100.000000% error\n\n\n\n",
                     ""});
    cases.push_back({"pol_degree_negative", pol({"-d", "-1"}), nullptr, "", true, 0,
                     pol_header("-1") +
                         "Arg 1 nan nan 0.000000 -1.000000result vale 0.333333"
                         "I classified 1 times 1 e 1 times -1\n"
                         "End training with 100.000000% error\n" +
                         kPrompt +
                         "Start testing\n"
                         "Arg 1 nan nan 0.000000 -1.000000result vale 0.500000"
                         "Arg 1 nan nan 0.500000 -1.000000result vale 0.333333"
                         "I classified 0 times 1 e 1 times -1\n"
                         "I was wrong 0 times saying 1 e 0 times saying -1\n"
                         "End testing with 0.000000% error\n\n\n\n",
                     ""});
    cases.push_back({"pol_degree_huge", pol({"-d", "1e20"}), nullptr, "", true, 0,
                     pol_header("-2147483648") +
                         "Arg 1 nan nan 0.000000 100000002004087734272.000000result vale inf"
                         "I classified 1 times 1 e 1 times -1\n"
                         "End training with 100.000000% error\n" +
                         kPrompt +
                         "Start testing\n"
                         "Arg 1 nan nan 0.000000 100000002004087734272.000000result vale inf"
                         "Arg 1 nan nan inf 100000002004087734272.000000result vale inf"
                         "I classified 1 times 1 e 0 times -1\n"
                         "I was wrong 1 times saying 1 e 0 times saying -1\n"
                         "End testing with 100.000000% error\n\n\n\n",
                     ""});
    return cases;
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (auto part : {command_line_refusals, file_option_cases, sample_content_cases,
                      restored_list_cases, save_dialogue_cases, parameter_cases}) {
        std::vector<Case> more = part();
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}

// Test names and failure messages show a row by its name.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Matrix : public ::testing::TestWithParam<Case> {};

TEST_P(Matrix, Case) {
    const Case& c = GetParam();
    if (c.needs == Needs::root && !is_root()) GTEST_SKIP() << "needs root to make a device node";
    if (c.needs == Needs::unprivileged) {
        std::string why;
        if (!unprivileged_runs_possible(why)) GTEST_SKIP() << why;
    }
    TempDir dir;
    ::chmod(dir.path.c_str(), 0755);  // nobody may enter it for unprivileged rows
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"train", kTrain}, {"test", kTest}, {"ptrain", kPolTrain}, {"ptest", kPolTest},
             {"vtrain", kVotedTrain}, {"vtest", kVotedTest}}) {
        file(name, text)(dir);
    }
    if (c.setup) c.setup(dir);

    Launch run;
    run.work_dir = dir.path;
    run.args = c.args;
    run.input = c.input;
    run.input_from_null = c.input_from_null;
    run.unprivileged = c.needs == Needs::unprivileged;
    RunResult r = launch(run);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    if (c.check) c.check(dir);
}

INSTANTIATE_TEST_SUITE_P(BadInput, Matrix, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(BadInputMatrix, HasEnoughDistinctRows) {
    std::vector<Case> cases = all_cases();
    std::set<std::string> names;
    for (const Case& c : cases) EXPECT_TRUE(names.insert(c.name).second) << "duplicate " << c.name;
    EXPECT_GE(cases.size(), 30u);
}

}  // namespace
