// The run matrix: the built programs on one case per row, each row run with
// programma and with programma_reference, the whole standard output and
// error and the exit status compared with the row's. Rows cover the command
// line, every file option, the sample-file layouts accepted and refused,
// restored lists, every end of input in the save dialogue, saves that cannot
// be made, extreme kernel parameters, the polynomial pauses and the voted
// method. Rows marked `unprivileged` run as the user nobody when the tests
// run as root; rows marked `root` need a private device node.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <set>

#include "support.h"

namespace {

// The row tables keep their rows as written, one or two lines each.
// clang-format off

enum class Needs { nothing, unprivileged, root };
using DirFunction = std::function<void(const TempDir&)>;

struct Row {
    std::string name{};
    std::vector<std::string> args{};
    std::string out{};  // the whole standard output
    std::string err{};  // the whole standard error
    int status = 0;
    std::string input = "n\n";  // standard input, or /dev/null when null_input
    bool null_input = false;
    DirFunction setup = nullptr;  // extra files
    DirFunction check = nullptr;  // the folder afterwards
    Needs needs = Needs::nothing;
    std::string prefix{};  // a shell command before the program, such as a limit
};

// The files every row finds: a gaussian run (digit 1, constant 1, 2 epochs),
// a polynomial one and a voted one.
const std::vector<std::pair<std::string, std::string>> kFiles = {
    {"train", "0 0\n5 1\n0.1 0\n5.1 1\n"}, {"test", "0.2 0\n4.9 1\n0 1\n"},
    {"ptrain", "1 0\n2 1\n"},              {"ptest", "1 0\n"},
    {"vtrain", "1 0 1\n0 1 0\n1 0 1\n"},   {"vtest", "0 1 0\n0 -1 1\n0 -3 1\n"}};

std::vector<std::string> gauss(const std::string& tr = "train", const std::string& ts = "test",
                               std::vector<std::string> extra = {}) {
    return with({"-tr", tr, "-ts", ts, "-dg", "1", "-k", "gauss", "-c", "1", "-e", "2"}, extra);
}
std::vector<std::string> restoring(const std::string& list) { return gauss("train", "test", {"-l", list}); }
std::vector<std::string> voted(const std::string& tr = "vtrain", const std::string& ts = "vtest",
                               std::vector<std::string> extra = {}) {
    return with({"-vot", "1", "-tr", tr, "-ts", ts, "-dg", "1", "-e", "2"}, extra);
}

std::string header(const std::string& tr = "train", const std::string& ts = "test",
                   const std::string& constant = "1") {
    return "Starting training for 1 digit with gaussian kernel and " + constant +
           " as constant for 2 epocs \nTraining set loaded from " + tr + "\nTest loaded from " + ts + "\n";
}
std::string list_header(const std::string& list) {
    return "Starting training for 1 digit with gaussian kernel and 1 as constant for 2 epocs \n"
           "List loaded from " + list + "\nTest loaded from test\n";
}
std::string voted_header(const std::string& tr = "vtrain", const std::string& ts = "vtest") {
    return "Starting training for 1 digit with voted perceptron algoritm for 2 epocs \n"
           "Training set loaded from " + tr + "\nTest loaded from " + ts + "\n";
}
std::string pol_header(const std::string& degree) {
    return "Starting training for 1 digit with polinomial kernel of " + degree +
           " degree for 1 epocs \nTraining set loaded from ptrain\nTest loaded from ptest\n"
           "Training set dimension are 2x2\n";
}
std::string error_line(const std::string& message) { return "programma: " + message + "\n"; }
std::string dims(int rows, int columns) {
    return "Training set dimension are " + std::to_string(rows) + "x" + std::to_string(columns) + "\n";
}
// The test's report, after "Start testing" and any kernel trace.
std::string tested(int plus, int minus, int wrong_plus, int wrong_minus, const std::string& percent) {
    return "I classified " + std::to_string(plus) + " times 1 e " + std::to_string(minus) + " times -1\nI was wrong " +
           std::to_string(wrong_plus) + " times saying 1 e " + std::to_string(wrong_minus) +
           " times saying -1\nEnd testing with " + percent + "% error\n\n\n\n";
}
std::string testing(int plus, int minus, int wrong_plus, int wrong_minus, const std::string& percent) {
    return "Start testing\n" + tested(plus, minus, wrong_plus, wrong_minus, percent);
}

const std::string kDims = dims(4, 2);
const std::string kTraining =
    "I classified 2 times 1 e 2 times -1\nI classified 2 times 1 e 2 times -1\n"
    "End training with 0.000000% error\n";
const std::string kPrompt = "Do you want to save the list? [y|n] \n";
const std::string kTesting = testing(1, 2, 0, 1, "33.333336");
const std::string kEmptyListTesting = testing(3, 0, 1, 0, "33.333336");  // every row called the digit
const std::string kEveryRowTheDigit = "I classified 4 times 1 e 0 times -1\nI classified 4 times 1 e 0 times -1\n"
                                      "End training with 50.000000% error\n" + kPrompt + kEmptyListTesting;
const std::string kWholeRun = header() + kDims + kTraining + kPrompt + kTesting;
const std::string kUntilPrompt = header() + kDims + kTraining + kPrompt;
const std::string kVotedTraining = "Training set dimension are 3x3\n"
                                   "ho fatto la 0-esima epoca, 1 errori, 2 right"
                                   "ho fatto la 1-esima epoca, 0 errori, 3 right"
                                   "End training with 0.000000% error\n";
const std::string kVotedRun = voted_header() + kVotedTraining + "Test set dimension are 3x3\n"
    "Ho classificato la cifra 1 e ho azzeccato 2 volte e sbagliato 1 volte, ho detto 2 volte meno e "
    "1 volte piu'\nEnd testing with 33.333336% error\n\n\n\n";

DirFunction file(const std::string& name, const std::string& text, mode_t mode = 0644) {
    return [=](const TempDir& dir) {
        write_text(dir.file(name), text);
        ::chmod(dir.file(name).c_str(), mode);
    };
}
DirFunction folder(const std::string& name, mode_t mode = 0755) {
    return [=](const TempDir& dir) {
        ::mkdir(dir.file(name).c_str(), mode);
        ::chmod(dir.file(name).c_str(), mode);
    };
}
DirFunction file_holds(const std::string& name, const std::string& text) {
    return [=](const TempDir& dir) { EXPECT_EQ(read_text(dir.file(name)), text) << name; };
}
// Nothing but the row's own files is left in the folder.
DirFunction only_files(std::vector<std::string> extra) {
    return [=](const TempDir& dir) {
        std::set<std::string> expected(extra.begin(), extra.end());
        for (const auto& [name, text] : kFiles) expected.insert(name);
        const std::vector<std::string> names = list_dir(dir.path);
        EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), expected);
    };
}
std::string repeated(const std::string& piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

void add_command_line_rows(std::vector<Row>& rows) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> refusals = {
        {"lone_option_even_argc", {"-e"}}, {"odd_count_missing_value", {"-dg", "3", "-e"}},
        {"unknown_option", {"-x", "1"}}, {"value_where_option_belongs", {"3", "-dg"}},
        {"option_in_capitals", {"-DG", "2"}}, {"refusal_after_accepted_pair", {"-dg", "2", "--tr", "a"}},
        {"adaboost_flag_2", {"-a", "2"}}, {"adaboost_flag_empty", {"-a", ""}},
        {"voted_flag_01", {"-vot", "01"}}, {"voted_flag_true", {"-vot", "true"}},
        {"kernel_poly", {"-k", "poly"}}, {"kernel_empty", {"-k", ""}}, {"digit_10", {"-dg", "10"}},
        {"digit_negative", {"-dg", "-1"}}, {"digit_letter", {"-dg", "x"}},
        {"digit_beyond_int", {"-dg", "4294967299"}}, {"epochs_negative", {"-e", "-1"}},
        {"epochs_letter", {"-e", "abc"}}, {"epochs_int_max_plus_1", {"-e", "2147483648"}},
        {"epochs_huge", {"-e", "99999999999999999999"}}, {"constant_letter", {"-c", "big"}},
        {"constant_nan_word", {"-c", "nan"}}, {"degree_letter", {"-d", "x2"}}, {"degree_inf_word", {"-d", "inf"}}};
    for (const auto& [name, args] : refusals) {
        rows.push_back({.name = "refused_" + name, .args = args, .out = usage_text("PROGRAM"), .null_input = true});
    }
    rows.push_back({.name = "adaboost_alone_ends_silently", .args = {"-a", "1", "-tr", "absent"}});
    rows.push_back({.name = "voted_ignores_adaboost_kernel_and_list",
                    .args = voted("vtrain", "vtest", {"-a", "1", "-k", "gauss", "-d", "7", "-c", "0", "-l", "x"}),
                    .out = kVotedRun, .null_input = true});
    rows.push_back({.name = "later_value_wins_and_3x_reads_as_3",
                    .args = {"-dg", "7", "-tr", "train", "-ts", "test", "-k", "gauss", "-c", "1", "-e", "3x",
                             "-e", "2", "-dg", "1"},
                    .out = kWholeRun});
    rows.push_back({.name = "defaults_name_the_default_files", .args = {}, .out =
                        "Starting training for 0 digit with polinomial kernel of 2 degree for 2 epocs \n"
                        "Training set loaded from Data/Training_set\nTest loaded from Data/Test_set\n"
                        "ERRORE NEL FILE",
                    .err = error_line("Data/Training_set: cannot open: No such file or directory"),
                    .status = 1, .null_input = true});
    rows.push_back({.name = "zero_epochs", .args = gauss("train", "test", {"-e", "0"}),
                    .out = "Starting training for 1 digit with gaussian kernel and 1 as constant for 0 epocs \n"
                           "Training set loaded from train\nTest loaded from test\n" + kDims +
                           "End training with 0.000000% error\n" + kPrompt + kEmptyListTesting});
}

void add_file_option_rows(std::vector<Row>& rows) {
    // Each file option, of both methods, naming a missing file, one that cannot
    // be opened and a folder: the output up to the file's turn (ERRORE NEL FILE
    // where a sample set does not open), then the diagnostic.
    const std::vector<std::tuple<std::string, std::string, DirFunction, Needs>> faults = {
        {"missing", "absent: cannot open: No such file or directory", nullptr, Needs::nothing},
        {"unreadable", "locked: cannot open: Permission denied", file("locked", "0 0\n", 0), Needs::unprivileged},
        {"directory", "sub: cannot read: Is a directory", folder("sub"), Needs::nothing}};
    for (const auto& [fault, problem, setup, needs] : faults) {
        const std::string f = problem.substr(0, problem.find(':'));
        const std::string not_opened = problem.find("cannot open") != std::string::npos ? "ERRORE NEL FILE" : "";
        for (const Row& row : {Row{.name = "tr_" + fault, .args = gauss(f), .out = header(f) + not_opened},
                               Row{.name = "ts_" + fault, .args = gauss("train", f),
                                   .out = header("train", f) + kDims + kTraining + kPrompt + not_opened},
                               Row{.name = "l_" + fault, .args = restoring(f), .out = list_header(f) + kDims},
                               Row{.name = "voted_tr_" + fault, .args = voted(f), .out = voted_header(f) + not_opened},
                               Row{.name = "voted_ts_" + fault, .args = voted("vtrain", f),
                                   .out = voted_header("vtrain", f) + kVotedTraining + not_opened}}) {
            rows.push_back({.name = row.name, .args = row.args, .out = row.out, .err = error_line(problem), .status = 1,
                            .setup = setup, .needs = needs});
        }
    }
}

void add_sample_rows(std::vector<Row>& rows) {
    // Accepted layouts, each separator among them: the run of the plain file.
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"last_line_without_newline", "0 0\n5 1\n0.1 0\n5.1 1"},
        {"trailing_blank_lines", "0 0\n5 1\n0.1 0\n5.1 1\n\n\n \t\n\n"},
        {"tabs", "0\t0\n5\t1\n\t0.1\t0\t\n5.1\t\t1\n"},
        {"crlf", "0 0\r\n5 1\r\n0.1 0\r\n5.1 1\r\n"},
        {"vertical_tab_and_form_feed", "0\v0\n5\f1\n0.1 0\n5.1 1\n"},
        {"blank_lines_between", "\n0 0\n\n5 1\n \n0.1 0\n\r\n5.1 1\n"},
        {"other_spellings", "0e0 -0\n+5 1.\n1e-1 0x0\n5.10 1e0\n"}};
    for (const auto& [name, text] : accepted) {
        rows.push_back({.name = "accepted_" + name, .args = gauss("layout"),
                        .out = header("layout") + kDims + kTraining + kPrompt + kTesting, .setup = file("layout", text)});
    }
    // Refused contents: the diagnostic names the file and the line (an empty
    // set, the file alone).
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> refused = {
        {"tr_empty", "", "", " holds no sample line"}, {"tr_blank_lines_only", "\n \t\n\r\n", "", " holds no sample line"},
        {"ragged_line", "0 0\n5\n0.1 0\n", dims(3, 2), "2: holds 1 numbers, expected 2 like the first sample line"},
        {"wider_line_after_blank", "0 0\n\n5 1 2\n", dims(2, 2), "3: holds 3 numbers, expected 2 like the first sample line"},
        {"non_number_token", "0 0\n5 one\n", dims(2, 2), "2: 'one' is not a number"},
        {"decimal_comma", "0 0\n\n0,5 1\n", dims(2, 2), "3: '0,5' is not a number"},
        {"number_glued_to_text", "0 0\n5 1x\n", dims(2, 2), "2: '1x' is not a number"},
        {"binary_bytes_in_a_token", std::string("0 0\n1 \0\x01" "ELF\x1b[2J\xff\n", 17), dims(2, 2),
         "2: '\\x00\\x01ELF\\x1b[2J\\xff' is not a number"},
        // Files from 1 MiB on are read in parts by the engine: the same words.
        {"one_mb_ragged_line", "0 0\n" + repeated("0.25 ", 200000) + "\n", dims(2, 2),
         "2: holds 200000 numbers, expected 2 like the first sample line"},
        {"two_mb_ragged_line", "0 0\n" + repeated("0.25 ", 400000) + "\n", dims(2, 2),
         "2: holds 400000 numbers, expected 2 like the first sample line"},
        {"bad_token_deep_in_a_big_file", repeated("0 0\n", 249999) + "0 x\n" + repeated("\n5 1\n", 25000),
         dims(275000, 2), "250000: 'x' is not a number"},
        {"one_mb_token", "0 0\n1 " + repeated("9", 1 << 20) + "x\n", dims(2, 2),
         "2: '" + repeated("9", 40) + "...' is not a number"}};
    for (const auto& [name, text, dims_line, problem] : refused) {
        rows.push_back({.name = name, .args = gauss("bad"), .out = header("bad") + dims_line,
                        .err = error_line("bad:" + problem), .status = 1, .setup = file("bad", text)});
    }
    rows.push_back({.name = "bad_token_in_test_set", .args = gauss("train", "bad"),
                    .out = header("train", "bad") + kDims + kTraining + kPrompt,
                    .err = error_line("bad:2: '?' is not a number"), .status = 1, .setup = file("bad", "0 0\n1 ?\n")});
    rows.push_back({.name = "test_set_other_columns", .args = gauss("train", "wide"),
                    .out = header("train", "wide") + kDims + kTraining + kPrompt,
                    .err = error_line("wide: samples have 3 numbers, the training set's have 2"), .status = 1,
                    .setup = file("wide", "1 2 1\n")});
    rows.push_back({.name = "voted_test_set_other_columns", .args = voted("vtrain", "test"),
                    .out = voted_header("vtrain", "test") + kVotedTraining + "Test set dimension are 3x2\n",
                    .err = error_line("test: samples have 2 numbers, the training set's have 3"), .status = 1,
                    .null_input = true});
    // NaN and infinite values, as features and labels, and a label of 3.5 are
    // numbers: they load, and labels that are not the digit count as -1.
    rows.push_back({.name = "nan_and_inf_features", .args = gauss("odd"), .out = header("odd") + kDims + kEveryRowTheDigit,
                    .setup = file("odd", "nan 0\n5 1\ninf 0\n-inf 1\n")});
    rows.push_back({.name = "nan_and_inf_labels", .args = gauss("labels"),
                    .out = header("labels") + kDims + "I classified 2 times 1 e 2 times -1\n"
                           "I classified 1 times 1 e 3 times -1\nEnd training with 0.000000% error\n" + kPrompt + kTesting,
                    .setup = file("labels", "0 nan\n5 1\n0.1 inf\n5.1 -inf\n")});
    rows.push_back({.name = "label_3_5", .args = {"-tr", "half", "-ts", "test", "-dg", "3", "-k", "gauss", "-c", "1", "-e", "1"},
                    .out = "Starting training for 3 digit with gaussian kernel and 1 as constant for 1 epocs \n"
                           "Training set loaded from half\nTest loaded from test\n" + dims(2, 2) +
                           "I classified 1 times 1 e 1 times -1\nEnd training with 100.000000% error\n" + kPrompt +
                           testing(1, 2, 1, 0, "33.333336"),
                    .setup = file("half", "0 3.5\n5 3\n")});
}

void add_list_rows(std::vector<Row>& rows) {
    // A list that names a row the training set lacks is refused; reading stops
    // quietly at the first thing that is not a number.
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> lists = {
        {"l_index_past_the_rows", "0\n4\n", "entry 2 (index 4)", ""},
        {"l_negative_index", "1\n-3\n", "entry 2 (index 4294967295)", ""},
        {"l_index_beyond_32_bits", "99999999999\n", "entry 1 (index 4294967295)", ""},
        {"l_empty_is_an_empty_list", "", "", kEmptyListTesting},
        {"l_non_number_is_an_empty_list", "abc\n1\n", "", kEmptyListTesting},
        {"l_reading_stops_at_text", "0\n1\nxyz\n4\n", "", kTesting},
        {"l_restores_what_training_saved", " 0 \n1", "", kTesting}};
    for (const auto& [name, text, entry, testing_out] : lists) {
        rows.push_back({.name = name, .args = restoring("list"), .out = list_header("list") + kDims + testing_out,
                        .err = entry.empty() ? "" : error_line("list: " + entry + " names no row of the 4-row training set"),
                        .status = entry.empty() ? 0 : 1, .input = "", .setup = file("list", text)});
    }
    // Equal features, other labels: row 1 is wrong in both epochs, row 0 in
    // the second; each mistake is an entry.
    rows.push_back({.name = "row_mistaken_twice_is_saved_twice", .args = gauss("same"),
                    .out = header("same") + dims(2, 2) + "I classified 2 times 1 e 0 times -1\n"
                           "I classified 1 times 1 e 1 times -1\nEnd training with 100.000000% error\n" + kPrompt +
                           "Save file as :file saved as L" + testing(0, 3, 0, 2, "66.666672"),
                    .input = "y\nL\n", .setup = file("same", "0 1\n0 0\n"), .check = file_holds("L", "1\n0\n1\n")});
}

void add_save_rows(std::vector<Row>& rows) {
    const std::string asked = kUntilPrompt + "Save file as :";
    // A save as `as` that goes through: the list of the run's two mistakes.
    const auto saved = [&](const std::string& name, const std::string& input, const std::string& as,
                           DirFunction setup = nullptr, Needs needs = Needs::nothing) {
        rows.push_back({.name = name, .args = gauss(), .out = asked + "file saved as " + as + kTesting, .input = input,
                        .setup = setup, .check = file_holds(as, "0\n1\n"), .needs = needs});
    };
    // A save that cannot be made stops the run with `problem`; `check` looks
    // at what it must leave as it was.
    const auto refused = [&](const std::string& name, const std::string& input, const std::string& problem,
                             DirFunction setup, DirFunction check, Needs needs = Needs::nothing) {
        rows.push_back({.name = name, .args = gauss(), .out = asked, .err = error_line(problem), .status = 1,
                        .input = input, .setup = setup, .check = check, .needs = needs});
    };
    // The end of input at every point of the dialogue.
    rows.push_back({.name = "eof_before_the_answer", .args = gauss(), .out = kWholeRun, .input = ""});
    rows.push_back({.name = "eof_after_characters_that_answer_nothing", .args = gauss(), .out = kWholeRun, .input = "abc\n\t"});
    rows.push_back({.name = "eof_right_after_n", .args = gauss(), .out = kWholeRun, .input = "n"});
    for (const std::string input : {"y", "yes please", "y\n"}) {
        refused("eof_before_a_name_" + std::to_string(input.size()), input,
                "no file name to save the list as (end of input)", nullptr, only_files({}));
    }
    saved("other_lines_before_the_answer", "\n?!\ny\nx\n", "x");
    saved("eof_inside_a_one_character_name", "y\nL", "L");
    saved("name_with_a_blank", "y\nsaved list\n", "saved list");
    const std::string long_name(250, 'n');  // the temporary file's name is cut to fit
    saved("save_with_a_250_byte_name", "y\n" + long_name + "\n", long_name);
    saved("save_over_a_writable_list_in_a_read_only_folder", "y\nro/list\n", "ro/list", [](const TempDir& dir) {
        folder("ro")(dir);
        file("ro/list", "old\n", 0666)(dir);
        ::chmod(dir.file("ro").c_str(), 0555);
    }, Needs::unprivileged);
    // Saves that cannot be made stop the run and leave files as they were.
    refused("save_empty_name", "y\n\n", "cannot save: the file name is empty", nullptr, only_files({}));
    refused("save_onto_a_directory", "y\nsub\n", "sub: cannot save: Is a directory", folder("sub"), only_files({"sub"}));
    refused("save_into_a_missing_folder", "y\nno/such/list\n", "no/such/list: cannot save: No such file or directory",
            nullptr, only_files({}));
    refused("save_into_a_read_only_folder", "y\nro/list\n", "ro/list: cannot save: Permission denied", folder("ro", 0555),
            [](const TempDir& dir) { EXPECT_TRUE(list_dir(dir.file("ro")).empty()); }, Needs::unprivileged);
    refused("save_through_a_symbolic_link_loop", "y\na\n", "a: cannot save: Too many levels of symbolic links",
            [](const TempDir& dir) {
                ASSERT_EQ(::symlink("b", dir.file("a").c_str()), 0);
                ASSERT_EQ(::symlink("a", dir.file("b").c_str()), 0);
            }, only_files({"a", "b"}));
    refused("save_onto_the_training_set", "y\ntrain\n", "train: cannot save: it is the training set", nullptr,
            file_holds("train", kFiles[0].second));
    refused("save_onto_the_test_set_through_a_link", "y\nt\n", "t: cannot save: it is the test set",
            [](const TempDir& dir) { ASSERT_EQ(::symlink("test", dir.file("t").c_str()), 0); },
            file_holds("test", kFiles[1].second));
    refused("save_over_a_read_only_list", "y\nlist\n", "list: cannot save: Permission denied",
            file("list", "old\n", 0444), file_holds("list", "old\n"), Needs::unprivileged);
    // The folder would let a new list replace it: only the list's own mode
    // keeps it.
    refused("save_over_a_read_only_list_in_a_writable_folder", "y\nrw/list\n", "rw/list: cannot save: Permission denied",
            [](const TempDir& dir) {
                folder("rw", 0777)(dir);
                file("rw/list", "old\n", 0444)(dir);
            }, file_holds("rw/list", "old\n"), Needs::unprivileged);
    refused("save_onto_a_full_device", "y\nfull\n", "full: cannot save: No space left on device",
            [](const TempDir& dir) { ASSERT_TRUE(make_device(dir.file("full"), 1, 7)); },
            [](const TempDir& dir) { EXPECT_TRUE(S_ISCHR(file_mode(dir.file("full")))); },
            Needs::root);  // the device is written in place, never replaced
    rows.push_back({.name = "output_to_a_full_device", .args = gauss(),
                    .err = error_line("standard output: cannot write: No space left on device"), .status = 1,
                    .prefix = "exec >/dev/full;"});
    // A diagnostic flushes standard output first; that write fails, and the
    // last flush, with nothing left to write, succeeds: still reported.
    rows.push_back({.name = "output_to_a_full_device_fails_before_an_error", .args = gauss("sub"),
                    .err = error_line("sub: cannot read: Is a directory") + error_line("standard output: cannot write"),
                    .status = 1, .setup = folder("sub"), .prefix = "exec >/dev/full;"});
}

void add_parameter_rows(std::vector<Row>& rows) {
    const std::string all_wrong = "I classified 2 times 1 e 2 times -1\nI classified 2 times 1 e 2 times -1\n"
                                  "End training with 100.000000% error\n" + kPrompt;
    rows.push_back({.name = "gauss_constant_0", .args = gauss("train", "test", {"-c", "0"}),
                    .out = header("train", "test", "0") + kDims + kEveryRowTheDigit});
    rows.push_back({.name = "gauss_constant_negative", .args = gauss("train", "test", {"-c", "-1"}),
                    .out = header("train", "test", "-1") + kDims + all_wrong + testing(2, 1, 1, 1, "66.666672")});
    rows.push_back({.name = "gauss_constant_huge", .args = gauss("train", "test", {"-c", "1e39"}),
                    .out = header("train", "test", "-2147483648") + kDims + all_wrong + kEmptyListTesting});
    // The polynomial trace: "Arg", the features, both rows' element 256 (nan
    // here), the previous evaluation's value and the degree, then the value.
    const auto pol_run = [](const std::string& degree, const std::string& shown, const std::string& v1,
                            const std::string& v2, const std::string& v3, const std::string& report) {
        const std::string arg = "Arg 1 nan nan ";
        return pol_header(shown) + arg + "0.000000 " + degree + "result vale " + v1 +
               "I classified 1 times 1 e 1 times -1\nEnd training with 100.000000% error\n" + kPrompt +
               "Start testing\n" + arg + "0.000000 " + degree + "result vale " + v2 + arg + v2 + " " + degree +
               "result vale " + v3 + report;
    };
    const std::vector<std::string> pol = {"-tr", "ptrain", "-ts", "ptest", "-dg", "1", "-e", "1"};
    const std::string wrong_once = tested(1, 0, 1, 0, "100.000000");
    const std::string degree_2 = pol_run("2.000000", "2", "9.000000", "4.000000", "9.000000", wrong_once);
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> degrees = {
        {"pol_degree_2", {}, degree_2},
        {"pol_degree_2_9_prints_2", {"-d", "2.9"}, pol_run("2.900000", "2", "24.190882", "7.464264", "24.190882", wrong_once)},
        {"pol_degree_0", {"-d", "0"}, pol_run("0.000000", "0", "1.000000", "1.000000", "1.000000", wrong_once)},
        {"pol_degree_negative", {"-d", "-1"},
         pol_run("-1.000000", "-1", "0.333333", "0.500000", "0.333333", tested(0, 1, 0, 0, "0.000000"))},
        {"pol_degree_huge", {"-d", "1e20"},
         pol_run("100000002004087734272.000000", "-2147483648", "inf", "inf", "inf", wrong_once)}};
    for (const auto& [name, degree, out] : degrees) {
        rows.push_back({.name = name, .args = with(pol, degree), .out = out, .null_input = true});
    }
    // The pause of the training evaluation eats 'n'; the prompt then skips
    // the newline and takes the 'y' of the next line; the name follows, and
    // the test's pauses read what is left.
    std::string paused = degree_2;
    paused.replace(paused.find("Start testing"), 0, "Save file as :file saved as saved");
    rows.push_back({.name = "pol_pauses_consume_typed_characters", .args = pol, .out = paused,
                    .input = "n\ny\nsaved\nab", .check = file_holds("saved", "0\n1\n")});
}

std::vector<Row> all_rows() {
    std::vector<Row> rows;
    for (auto add : {add_command_line_rows, add_file_option_rows, add_sample_rows, add_list_rows, add_save_rows,
                     add_parameter_rows}) {
        add(rows);
    }
    return rows;
}

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class Matrix : public ::testing::TestWithParam<Row> {};

// clang-format on

TEST_P(Matrix, BothProgramsGiveTheRowsRun) {
    const Row& row = GetParam();
    if (row.needs == Needs::root && !is_root()) GTEST_SKIP() << "needs root to make a device node";
    std::string why;
    if (row.needs == Needs::unprivileged && !unprivileged_runs_possible(why)) GTEST_SKIP() << why;
    for (const std::string program : {PROGRAMMA_PATH, PROGRAMMA_REFERENCE_PATH}) {
        SCOPED_TRACE(program);
        TempDir dir;
        for (const auto& [name, text] : kFiles) write_text(dir.file(name), text);
        if (row.setup) row.setup(dir);
        const RunResult r = launch({.program = program,
                                    .work_dir = dir.path,
                                    .args = row.args,
                                    .input = row.input,
                                    .input_from_null = row.null_input,
                                    .shell_prefix = row.prefix,
                                    .unprivileged = row.needs == Needs::unprivileged});
        std::string out = row.out;
        if (out == usage_text("PROGRAM")) out = usage_text(program);
        EXPECT_EQ(r.status, row.status) << r.err;
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, row.err);
        if (row.check) row.check(dir);
    }
}

INSTANTIATE_TEST_SUITE_P(Run, Matrix, ::testing::ValuesIn(all_rows()),
                         [](const ::testing::TestParamInfo<Row>& info) { return info.param.name; });

}  // namespace
