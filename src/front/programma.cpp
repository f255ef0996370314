// The program's front end: the settings with their defaults, the option table
// and usage text, the command-line loop, and the two drivers that run the
// kernel perceptron or the voted perceptron from start to end.
#include "programma.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <climits>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <vector>

#include "diagnostics.h"
#include "fast_perceptron.h"
#include "fast_voted.h"
#include "sample_loader.h"
#include "voted_lib_ker.h"

uint8_t adaboost = 0;
float gaussian_c = 3.0f;
float polinomial_degree = 2.0f;
uint32_t digit = 0;
uint32_t epocs = 2;
int32_t kernel_algoritm = 0;
uint8_t load_list = 0;
const char* list = nullptr;
const char* training_set = "Data/Training_set";
const char* test_set = "Data/Test_set";
uint8_t voted = 0;
bool fast_engine = true;

const char* const arguments[10] = {"-a", "-c", "-d", "-dg", "-e", "-k", "-l", "-tr", "-ts", "-vot"};
uint8_t is_error = 0;

KernelSpec ker;
Dims dim_tr;
Dims dim_ts;
SampleMatrix tr_set;
SampleMatrix ts_set;
std::unique_ptr<IndexList> head;
float training_error = 0.0f;
float test_error = 0.0f;
char control = 0;
std::string list_save_path;

void reset_settings() {
    adaboost = 0;
    gaussian_c = 3.0f;
    polinomial_degree = 2.0f;
    digit = 0;
    epocs = 2;
    kernel_algoritm = 0;
    load_list = 0;
    list = nullptr;
    training_set = "Data/Training_set";
    test_set = "Data/Test_set";
    voted = 0;
    is_error = 0;
    ker = KernelSpec{};
    dim_tr = Dims{};
    dim_ts = Dims{};
    tr_set = SampleMatrix{};
    ts_set = SampleMatrix{};
    head.reset();
    training_error = 0.0f;
    test_error = 0.0f;
    control = 0;
    list_save_path.clear();
}

namespace {

bool starts_with_letter(const char* value) {
    return std::isalpha(static_cast<unsigned char>(value[0])) != 0;
}

// Reads a number the way atoi does (leading white space, a sign, then digits,
// anything after them ignored, no digits meaning 0), but reports a value
// outside the range of int instead of leaving it undefined.
bool integer_value(const char* text, long long& value) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (negative) value = -value;
    return value >= INT_MIN && value <= INT_MAX;
}

// atof narrowed to float with round-to-nearest: values beyond the float
// range become infinities (spelled out, since such a conversion is otherwise
// undefined).
float float_value(const char* text) {
    double value = std::atof(text);
    double magnitude = std::fabs(value);
    if (magnitude >= 0x1.ffffffp127) return value > 0 ? HUGE_VALF : -HUGE_VALF;
    if (magnitude > FLT_MAX) return value > 0 ? FLT_MAX : -FLT_MAX;
    return static_cast<float>(value);
}

bool flag_value(const char* value, uint8_t& flag) {
    std::string_view text(value);
    if (text == "0") {
        flag = 0;
        return true;
    }
    if (text == "1") {
        flag = 1;
        return true;
    }
    return false;
}

// What the processor's truncating conversion gives: values outside the range
// of int, and NaN, become INT_MIN.
int truncated(float value) {
    if (std::isnan(value) || value >= 2147483648.0f || value < -2147483648.0f) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

int set_variable(const char* name, const char* value) {
    std::string_view option(name);
    if (option == "-a") return flag_value(value, adaboost) ? 0 : 1;
    if (option == "-c" || option == "-d") {
        if (starts_with_letter(value)) return 1;
        (option == "-c" ? gaussian_c : polinomial_degree) = float_value(value);
        return 0;
    }
    if (option == "-dg") {
        long long number = 0;
        if (starts_with_letter(value) || !integer_value(value, number)) return 1;
        digit = static_cast<uint32_t>(number);
        return digit > 9 ? 1 : 0;
    }
    if (option == "-e") {
        long long number = 0;
        if (starts_with_letter(value) || !integer_value(value, number) || number < 0) return 1;
        epocs = static_cast<uint32_t>(number);
        return 0;
    }
    if (option == "-k") {
        std::string_view text(value);
        if (text == "pol") {
            kernel_algoritm = 0;
            return 0;
        }
        if (text == "gauss") {
            kernel_algoritm = 1;
            return 0;
        }
        return 1;
    }
    if (option == "-l") {
        load_list = 1;
        list = value;
        return 0;
    }
    if (option == "-tr") {
        training_set = value;
        return 0;
    }
    if (option == "-ts") {
        test_set = value;
        return 0;
    }
    if (option == "-vot") return flag_value(value, voted) ? 0 : 1;
    return 1;
}

void help(const char* program_name) {
    std::printf(
        "\n"
        "Usage:%s [Options]\n"
        "\n"
        "Avaiable Options: {default value}\n"
        "-a  [0|1] Use adaboost \t\t\t\t{no} \n"
        "-c  [0-9] Constant of gaussian kernel   \t{3} \n"
        "-d  [0-9] Degree of polinomial kernel   \t{2}\n"
        "-e  [0-9] Epocs of training algoritm    \t{2}\n"
        "-dg [0-9] Digit to recognize\t\t\t{0}\n"
        "-k  [pol||gauss] Type of kernel to use  \t{polinomial} \n"
        "-l  [path/to/file] Path to saved list of previous run {no_list}\n"
        "-tr [path/to/file] Path to Training Set \t{Data/Training_set}\n"
        "-ts [path/to/file] Path to Test Set     \t{Data/Test_set}\n"
        "-vot[0|1] Use voted perceptron algoritm         {no}\n"
        "\n"
        "Wrong parameters makes this message appear\n"
        "\n",
        program_name);
}

int parse_command_line(int argc, char** argv) {
    const char* program_name = (argc > 0 && argv[0] != nullptr) ? argv[0] : "programma";
    if (argc % 2 == 0) {
        help(program_name);
        return 1;
    }
    for (int i = 1; i < argc; i += 2) {
        for (const char* name : arguments) {
            if (std::string_view(argv[i]) != name) {
                is_error = 1;
                continue;
            }
            is_error = 0;
            if (set_variable(name, argv[i + 1]) == 1) {
                help(program_name);
                return 1;
            }
            break;
        }
        if (is_error == 1) {
            help(program_name);
            return 1;
        }
    }
    return 0;
}

namespace {

// Runs what the command line asks for; returns the exit status.
int run_program(int argc, char** argv) {
    if (parse_command_line(argc, argv) != 0) return 0;
    try {
        if (voted != 0) {
            std::printf("Starting training for %u digit ", digit);
            std::printf("with voted perceptron algoritm ");
            std::printf("for %u epocs \n", epocs);
            return voted_perceptron() != 0 ? 1 : 0;
        }
        if (adaboost != 0) return 0;
        return kernel() != 0 ? 1 : 0;
    } catch (const std::bad_alloc&) {
        report_error("out of memory");
        return 1;
    } catch (const std::length_error&) {
        report_error("out of memory");
        return 1;
    } catch (const std::exception& failure) {
        report_error("%s", failure.what());
        return 1;
    }
}

// Whether all of standard output reached its file: the last flush and every
// write before it. A full disk or a closed pipe is reported, not hidden.
bool output_written() {
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && std::ferror(stdout) == 0) return true;
    if (flushed) {
        report_error("standard output: cannot write");
    } else {
        report_error("standard output: cannot write: %s", std::strerror(error));
    }
    return false;
}

}  // namespace

int programma_main(int argc, char** argv) {
    const int status = run_program(argc, argv);
    return output_written() ? status : 1;
}

namespace {

// The one place where the drivers choose between the fast engine and the
// plain reference modules; both give the same bytes.

MeasuredFile measured;  // a file as the engine's measure found it, for its load

// Measures and loads one sample file; false when either step failed (the
// reason has been reported).
bool measure(const char* path, Dims& dims) {
    return (fast_engine ? measure_samples(path, dims, measured) : line_counter(path, dims)) == 0;
}

bool load(SampleMatrix& matrix, const Dims& dims, const char* path) {
    return (fast_engine ? load_samples(matrix, dims.columns, dims.rows, path, measured)
                        : read_file(matrix, dims.columns, dims.rows, path)) == 0;
}

// Where the engine cannot have the memory it needs beyond the reference's,
// it says so before printing anything, and the reference computes instead.
int train_kernel() {
    if (fast_engine) {
        const int status = run_fast(epocs, digit, ker, head, tr_set, dim_tr.columns, dim_tr.rows, training_error);
        if (status != kEngineOutOfMemory) return status;
    }
    return run(epocs, digit, ker, head, tr_set, dim_tr.columns, dim_tr.rows, training_error);
}

void test_kernel() {
    if (fast_engine && run_test_fast(digit, ker, head.get(), tr_set, dim_tr.columns, ts_set, dim_ts.columns,
                                     dim_ts.rows, test_error) != kEngineOutOfMemory) {
        return;
    }
    run_test(digit, ker, head.get(), tr_set, dim_tr.columns, dim_tr.rows, ts_set, dim_ts.columns, dim_ts.rows,
             test_error);
}

// The voted training; the engine reads the vector in force at the chain's
// tail instead of listing the chain after every mistake.
void train_voted_method(std::vector<int32_t>& mistake_indices, std::vector<uint32_t>& vote_counts,
                        uint32_t& entries) {
    train_voted(epocs, digit, tr_set, dim_tr.columns, dim_tr.rows, mistake_indices, vote_counts,
                entries, training_error, !fast_engine);
}

void test_voted_method(const std::vector<int32_t>& mistake_indices,
                       const std::vector<uint32_t>& vote_counts, uint32_t entries) {
    if (fast_engine && run_v_test_fast(digit, ts_set, dim_ts.columns, dim_ts.rows, tr_set, mistake_indices.data(),
                                       vote_counts.data(), entries, test_error) != kEngineOutOfMemory) {
        return;
    }
    run_v_test_ker(digit, ts_set, dim_ts.columns, dim_ts.rows, tr_set, dim_tr.columns, dim_tr.rows,
                   mistake_indices.data(), vote_counts.data(), entries, test_error);
}

bool same_columns(const char* path) {
    if (dim_ts.columns == dim_tr.columns) return true;
    report_error("%s: samples have %u numbers, the training set's have %u", path,
                 dim_ts.columns, dim_tr.columns);
    return false;
}

// Every restored index must name a row of the training set.
bool indices_in_range(const IndexList& restored) {
    uint32_t entry = 0;
    for (const IndexNode* node = restored.head; node != nullptr; node = node->next, ++entry) {
        uint32_t index = static_cast<uint32_t>(node->index);
        if (index >= dim_tr.rows) {
            report_error("%s: entry %u (index %u) names no row of the %u-row training set",
                         list, entry + 1, index, dim_tr.rows);
            return false;
        }
    }
    return true;
}

enum class Answer { yes, no };

// Reads characters until 'y' or 'n'; the end of input counts as 'n'.
Answer read_save_answer() {
    while (control != 'y' && control != 'n') {
        if (std::scanf("%c", &control) != 1) return Answer::no;
    }
    return control == 'y' ? Answer::yes : Answer::no;
}

// Drops the rest of the answer line, then reads the file name line; false at
// the end of input. Only the line's own newline is removed.
bool read_file_name(std::string& name) {
    int c = 0;
    while ((c = std::getchar()) != '\n') {
        if (c == EOF) return false;
    }
    name.clear();
    while ((c = std::getchar()) != EOF && c != '\n') name.push_back(static_cast<char>(c));
    return !(c == EOF && name.empty());
}

// Which of the run's sample sets a save name would replace ("training set"
// or "test set"), following links; null when it names neither. Only regular
// files count: a save to a device or a pipe replaces nothing.
const char* sample_set_named(const std::string& name) {
    struct stat target {};
    if (::stat(name.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return nullptr;
    const auto same_file = [&](const char* path) {
        struct stat info {};
        return ::stat(path, &info) == 0 && info.st_dev == target.st_dev && info.st_ino == target.st_ino;
    };
    if (same_file(training_set)) return "training set";
    if (same_file(test_set)) return "test set";
    return nullptr;
}

// The save dialogue after training; false when the run must stop.
bool offer_save() {
    std::printf("Do you want to save the list? [y|n] \n");
    if (read_save_answer() == Answer::no) return true;
    std::printf("Save file as :");
    if (!read_file_name(list_save_path)) {
        report_error("no file name to save the list as (end of input)");
        return false;
    }
    if (const char* set = sample_set_named(list_save_path)) {
        report_error("%s: cannot save: it is the %s", list_save_path.c_str(), set);
        return false;
    }
    if (dump_file(head, list_save_path.c_str(), 0) == 1) return false;
    std::printf("file saved as %s", list_save_path.c_str());
    return true;
}

void print_kernel_header() {
    std::printf("Starting training for %u digit ", digit);
    if (kernel_algoritm == 0) {
        std::printf("with polinomial kernel of %d degree ", truncated(polinomial_degree));
        ker = KernelSpec{0, polinomial_degree};
    }
    if (kernel_algoritm == 1) {
        std::printf("with gaussian kernel and %d as constant ", truncated(gaussian_c));
        ker = KernelSpec{1, gaussian_c};
    }
    std::printf("for %u epocs \n", epocs);
    if (load_list != 0) {
        std::printf("List loaded from %s\n", list);
    } else {
        std::printf("Training set loaded from %s\n", training_set);
    }
    std::printf("Test loaded from %s\n", test_set);
}

}  // namespace

int kernel() {
    print_kernel_header();
    if (!measure(training_set, dim_tr)) return 1;
    std::printf("Training set dimension are %ux%u\n", dim_tr.rows, dim_tr.columns);
    if (!load(tr_set, dim_tr, training_set)) return 1;

    if (load_list != 0) {
        if (restore_list(list, head) != 0 || !head) return 1;
        if (!indices_in_range(*head)) return 1;
    } else {
        if (train_kernel() != 0) {
            report_error("cannot create the mistake list");
            return 1;
        }
        std::printf("End training with %f%% error\n", static_cast<double>(training_error * 100.0f));
        if (!offer_save()) return 1;
    }

    if (!measure(test_set, dim_ts) || !load(ts_set, dim_ts, test_set)) return 1;
    if (!same_columns(test_set)) return 1;
    std::printf("Start testing\n");
    test_kernel();
    std::printf("End testing with %f%% error\n\n\n\n", static_cast<double>(test_error * 100.0f));
    return 0;
}

int voted_perceptron() {
    std::vector<int32_t> mistake_indices;
    std::vector<uint32_t> vote_counts;
    uint32_t entries = 0;

    std::printf("Training set loaded from %s\n", training_set);
    std::printf("Test loaded from %s\n", test_set);
    if (!measure(training_set, dim_tr)) return 1;
    std::printf("Training set dimension are %ux%u\n", dim_tr.rows, dim_tr.columns);
    if (!load(tr_set, dim_tr, training_set)) return 1;
    train_voted_method(mistake_indices, vote_counts, entries);
    std::printf("End training with %f%% error\n", static_cast<double>(training_error * 100.0f));

    if (!measure(test_set, dim_ts)) return 1;
    std::printf("Test set dimension are %ux%u\n", dim_ts.rows, dim_ts.columns);
    if (!load(ts_set, dim_ts, test_set)) return 1;
    if (!same_columns(test_set)) return 1;
    test_voted_method(mistake_indices, vote_counts, entries);
    std::printf("End testing with %f%% error\n\n\n\n", static_cast<double>(test_error * 100.0f));
    return 0;
}
