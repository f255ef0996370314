// Subcommands of digit-tools and their options. Wrong command lines are
// std::invalid_argument (exit 2); failures of the work itself are
// std::runtime_error (exit 1).
#include "digit_tools_cli.h"

#include <charconv>
#include <csignal>
#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "digit_tools_classify.h"
#include "digit_tools_convert.h"
#include "digit_tools_gnuplot.h"
#include "digit_tools_idx.h"
#include "digit_tools_output.h"
#include "digit_tools_show.h"
#include "digit_tools_sweep.h"
#include "digit_tools_tune.h"
#include "programma/api.h"
#include "programma/version.h"

namespace {

constexpr std::string_view kMainHelp =
    "Usage: digit-tools COMMAND [OPTIONS] FILES\n"
    "Tools beside programma: data conversion, pictures of samples, all-digit runs.\n"
    "\n"
    "Commands:\n"
    "  classify recognise which digit each test sample is, with ten of programma's recognisers\n"
    "  convert  write a sample-set file from LIBSVM, CSV or IDX data, or LIBSVM from one\n"
    "  show     draw rows of a sample-set file as a PNG grid of grey images\n"
    "  sweep    run programma for every digit and print a table of its results\n"
    "  tune     cross-validate classify's settings over a grid and name the best\n"
    "\n"
    "'digit-tools COMMAND --help' describes each command's options.\n"
    "Exit status: 0 done, 1 failed (bad input or a failed run), 2 wrong command line.\n";

constexpr std::string_view kConvertHelp =
    "Usage: digit-tools convert --from libsvm [--width N] [--label-map A=B] [-o OUT] FILE\n"
    "       digit-tools convert --from csv [--delimiter C] [--header] [--label-column N|last]\n"
    "                           [--label-map A=B] [-o OUT] FILE\n"
    "       digit-tools convert --from idx [--resample N] [--scale] [--label-map A=B]\n"
    "                           [-o OUT] IMAGES LABELS\n"
    "       digit-tools convert --to libsvm [-o OUT] SAMPLES\n"
    "\n"
    "Writes one sample per line: the features, then the whole-number label, single\n"
    "blanks, each number in the shortest form that reads back as the same float.\n"
    "\n"
    "  -o, --output FILE      output file (default: standard output)\n"
    "  --width N              LIBSVM: feature count, up to 16777216 (default: the largest index)\n"
    "  --label-map A=B[,C=D]  rewrite label A as B (repeatable; e.g. 10=0)\n"
    "  --delimiter C          CSV: field separator, one character or 'tab' (default ,)\n"
    "  --header               CSV: skip the first line\n"
    "  --label-column N|last  CSV: the label's column, from 1 (default last)\n"
    "  --resample N           IDX: average each image onto an N x N grid by area (N up to 1024)\n"
    "  --scale                IDX: map pixel values 0..255 to -1..1\n"
    "FILE may be - for standard input, or any stream: each input is read once.\n"
    "OUT is replaced only once it is wholly written; it may not be an input.\n";

constexpr std::string_view kShowHelp =
    "Usage: digit-tools show [--rows LIST | --list FILE] [--label N] [--zoom N]\n"
    "                        [--columns N] [--limit N] [--range LOW:HIGH] -o OUT.png SAMPLES\n"
    "\n"
    "Draws rows of a sample-set file whose feature count is a square (16x16 for the\n"
    "shipped data) as grey images, high values dark, each labelled underneath.\n"
    "\n"
    "  -o, --output FILE  the PNG file to write (required; - for standard output)\n"
    "  --rows LIST        rows from 0, e.g. 0,5,9-12 (default: every row; at most 2^24)\n"
    "  --list FILE        the rows of a mistake list, in list order, repeats once\n"
    "  --label N          only rows with this label\n"
    "  --zoom N           screen pixels per feature, up to 64 (default 4)\n"
    "  --columns N        images per grid row (default 10)\n"
    "  --limit N          draw at most N images, 0 for all (default 100)\n"
    "  --range LOW:HIGH   values drawn white and black (default: the set's least and greatest)\n";

constexpr std::string_view kSweepHelp =
    "Usage: digit-tools sweep [--programma PATH] [--digits LIST] [--csv] [--plot OUT.png]\n"
    "                         [--] [PROGRAMMA OPTIONS]\n"
    "\n"
    "Runs programma once for each digit (its -dg set each time, standard input from\n"
    "/dev/null) with the given option/value pairs, and prints a Markdown table of\n"
    "training error, test error, wrong answers of each kind and run time, with a\n"
    "mean row. The first argument that is not a sweep option starts the program's\n"
    "options. A failed run stops the sweep with exit status 1.\n"
    "\n"
    "  --programma PATH  the program (default: programma beside digit-tools)\n"
    "  --digits LIST     digits to run, e.g. 0,3,7-9 (default 0-9)\n"
    "  --csv             print CSV instead of Markdown\n"
    "  --plot FILE       also draw the test errors as a bar chart (needs gnuplot)\n"
    "Example: digit-tools sweep -k gauss -e 5\n";

constexpr std::string_view kClassifyHelp =
    "Usage: digit-tools classify [-k pol|gauss] [-c X] [-d X] [-e N] [-tr FILE] [-ts FILE]\n"
    "                            [--csv] [--predictions FILE] [--plot OUT.png]\n"
    "                            [--lists DIR | --restore DIR] [--unlabelled]\n"
    "                            [--combine last|average|vote]\n"
    "\n"
    "Trains programma's kernel perceptron for each digit 0 to 9, each exactly as\n"
    "programma trains it (the same mistake list), and answers for every test row the\n"
    "digit whose decision sum is the greatest (the smaller digit on a tie or a NaN).\n"
    "Prints each digit's mistakes and training error, the ten-class test error and\n"
    "the confusion table (rows: the true digit, columns: the answer). Labels must be\n"
    "whole numbers from 0 to 9. No trace is printed and standard input is not read.\n"
    "\n"
    "  -k, -c, -d, -e, -tr, -ts  as programma's options, with its defaults\n"
    "  --csv               print one CSV table: a row per true digit, then an 'all' row\n"
    "  --unlabelled        test rows hold features only: write the answers, no error\n"
    "  --predictions FILE  write one answer (a digit) per test row, in the test set's order\n"
    "  --plot FILE         draw the confusion table as a heat map (PNG)\n"
    "  --lists DIR         save the ten mistake lists as DIR/0.list ... DIR/9.list,\n"
    "                      and their settings and training set in DIR/manifest\n"
    "  --restore DIR       read the ten lists back from DIR instead of training,\n"
    "                      with the settings DIR/manifest records\n"
    "  --combine HOW       how each digit's list answers: last (the whole list's\n"
    "                      decision sum, programma's answer; the default), vote (every\n"
    "                      hypothesis training went through votes, weighted by the\n"
    "                      training steps it survived) or average (their decision sums\n"
    "                      so weighted); restored lists must need at most -e epochs\n"
    "Every output is checked before the work and replaced only once wholly written.\n"
    "The voted method is not offered: on images with a -1 background (the shipped\n"
    "data) its vote gives the same answer for every sample.\n";

constexpr std::string_view kTuneHelp =
    "Usage: digit-tools tune [-k LIST] [-c LIST] [-d LIST] [-e LIST] [--combine LIST]\n"
    "                        [--folds K] [--shuffle SEED] [-tr FILE] [-ts FILE] [--csv]\n"
    "                        [--plot OUT.png]\n"
    "\n"
    "Cross-validates classify over a grid of settings: the training set's rows are\n"
    "cut into K folds (fold f holds rows floor(f n/K) to floor((f+1) n/K) - 1), each\n"
    "answered by the ten recognisers trained on the other rows in file order. Prints\n"
    "every setting's ten-class error over all folds with the lowest and highest fold\n"
    "error, then the best setting (the lowest error, the earlier row on a tie). One\n"
    "training per kernel, parameter and fold serves every epoch count and combiner.\n"
    "\n"
    "  -k, -c, -d, -e  comma lists of programma's values (defaults pol, 3, 2, 2);\n"
    "                  -c applies to gauss, -d to pol\n"
    "  --combine LIST  comma list of last, average, vote (default last)\n"
    "  --folds K       2 or more (default 5)\n"
    "  --shuffle SEED  put the rows in a seeded order first: from the last row down,\n"
    "                  row i swaps with row x % (i + 1), x the next number of a 64-bit\n"
    "                  Mersenne twister seeded with SEED (the same folds everywhere)\n"
    "  -tr FILE        the training set (default Data/Training_set)\n"
    "  -ts FILE        then train on the whole set with the best setting and test it\n"
    "  --csv           print one CSV table (with the best row marked) instead\n"
    "  --plot FILE     draw the best kernel and combiner's errors against constant\n"
    "                  (or degree) and epochs as a heat map (PNG; needs gnuplot)\n"
    "Rows come in the order of the lists, -k, then -c or -d, then -e, then --combine.\n";

constexpr uint32_t kMaxZoom = 64;
constexpr uint32_t kMaxResample = 1024;
constexpr uint32_t kMaxWidth = uint32_t(1) << 24;  // LIBSVM rows wider than this are surely a wrong index
constexpr uint32_t kLargestRow = kMaxListedRows - 1;

// -h or --help where an option may stand: the command's help, status 0.
struct HelpWanted {};

bool is_help(const std::string& arg) { return arg == "-h" || arg == "--help"; }

programma::Combine combine_value(const std::string& text) {
    for (const programma::Combine combine :
         {programma::Combine::last, programma::Combine::average, programma::Combine::vote}) {
        if (text == combine_name(combine)) return combine;
    }
    throw std::invalid_argument("--combine takes last, average or vote, not '" + text + "'");
}

// The arguments of one command, taken in order.
struct Args {
    std::vector<std::string> items;
    std::size_t next = 0;

    bool done() const { return next >= items.size(); }
    const std::string& peek() const { return items[next]; }
    std::string take() { return items[next++]; }
    std::string value_of(const std::string& option) {
        if (done()) throw std::invalid_argument(option + " needs a value");
        return take();
    }
    // A file or folder name: an empty one would silently mean "none".
    std::string path_of(const std::string& option) {
        std::string path = value_of(option);
        if (path.empty()) throw std::invalid_argument(option + " needs a file name, not an empty one");
        return path;
    }
};

uint32_t at_most(const std::string& option, uint32_t value, uint32_t most) {
    if (value > most) throw std::invalid_argument(option + " goes up to " + std::to_string(most));
    return value;
}

uint32_t count_value(const std::string& option, const std::string& text, uint32_t least) {
    uint32_t value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || text.empty() || value < least) {
        throw std::invalid_argument(option + " needs a whole number from " + std::to_string(least) + ", not '" + text +
                                    "'");
    }
    return value;
}

float float_value(const std::string& option, std::string_view text) {
    float value = 0.0f;
    if (!parse_float(text, value)) {
        throw std::invalid_argument(option + " needs a number, not '" + std::string(text) + "'");
    }
    return value;
}

void add_label_map(LabelMap& map, const std::string& text) {
    if (!map.add(text)) {
        throw std::invalid_argument("--label-map needs FROM=TO[,FROM=TO...], not '" + text + "'");
    }
}

char delimiter_value(const std::string& text) {
    if (text == "tab" || text == "\\t") return '\t';
    if (text.size() != 1) {
        throw std::invalid_argument("--delimiter needs one character or 'tab', not '" + text + "'");
    }
    return text[0];
}

void print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

// A value of programma's -k, -c, -d or -e, read by programma's rules; a
// kernel parameter must also pass the library's check as its kernel's.
template <typename T>
T programma_value(const std::string& option, const std::string& text, programma::Result<T>&& parsed) {
    if (!parsed) throw std::invalid_argument(option + " does not take '" + text + "'");
    return parsed.value();
}

programma::KernelKind kernel_value(const std::string& option, const std::string& text) {
    return programma_value(option, text, programma::parse_kernel(text));
}

uint32_t epochs_value(const std::string& option, const std::string& text) {
    return programma_value(option, text, programma::parse_epochs(text));
}

float parameter_value(const std::string& option, const std::string& text) {
    const bool constant = option == "-c";
    const float value =
        programma_value(option, text, constant ? programma::parse_constant(text) : programma::parse_degree(text));
    programma::Recogniser recogniser;
    recogniser.kernel = {constant ? programma::KernelKind::gaussian : programma::KernelKind::polynomial, value};
    if (const programma::Status checked = programma::check(recogniser); !checked) {
        throw std::invalid_argument(option + " does not take '" + text + "': " + checked.error().detail);
    }
    return value;
}

// Options given to convert, and which format each belongs to.
struct ConvertRequest {
    std::string from;
    std::string to;
    std::string output;
    std::vector<std::string> inputs;
    LibsvmOptions libsvm;
    CsvOptions csv;
    IdxOptions idx;
    std::vector<std::pair<std::string, std::string>> format_options;  // option, its format
};

ConvertRequest parse_convert(Args& args) {
    ConvertRequest request;
    LabelMap labels;
    while (!args.done()) {
        const std::string arg = args.take();
        if (is_help(arg)) throw HelpWanted{};
        if (arg == "--from") {
            request.from = args.value_of(arg);
        } else if (arg == "--to") {
            request.to = args.value_of(arg);
        } else if (arg == "-o" || arg == "--output") {
            request.output = args.path_of(arg);
        } else if (arg == "--label-map") {
            add_label_map(labels, args.value_of(arg));
        } else if (arg == "--width") {
            request.libsvm.width = at_most(arg, count_value(arg, args.value_of(arg), 1), kMaxWidth);
            request.format_options.emplace_back(arg, "libsvm");
        } else if (arg == "--delimiter") {
            request.csv.delimiter = delimiter_value(args.value_of(arg));
            request.format_options.emplace_back(arg, "csv");
        } else if (arg == "--header") {
            request.csv.header = true;
            request.format_options.emplace_back(arg, "csv");
        } else if (arg == "--label-column") {
            const std::string value = args.value_of(arg);
            request.csv.label_column = value == "last" ? 0 : count_value(arg, value, 1);
            request.format_options.emplace_back(arg, "csv");
        } else if (arg == "--resample") {
            request.idx.resample = at_most(arg, count_value(arg, args.value_of(arg), 1), kMaxResample);
            request.format_options.emplace_back(arg, "idx");
        } else if (arg == "--scale") {
            request.idx.scale = true;
            request.format_options.emplace_back(arg, "idx");
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw std::invalid_argument("convert has no option " + arg);
        } else {
            request.inputs.push_back(arg);
        }
    }
    if (request.from.empty() == request.to.empty()) {
        throw std::invalid_argument("convert needs --from FORMAT or --to libsvm");
    }
    if (!request.to.empty() && request.to != "libsvm") {
        throw std::invalid_argument("--to takes only libsvm");
    }
    if (!request.from.empty() && request.from != "libsvm" && request.from != "csv" && request.from != "idx") {
        throw std::invalid_argument("--from takes libsvm, csv or idx, not '" + request.from + "'");
    }
    const std::string format = request.from.empty() ? "samples" : request.from;
    for (const auto& [option, owner] : request.format_options) {
        if (owner != format) {
            throw std::invalid_argument(option + " applies to --from " + owner + " only");
        }
    }
    if (!labels.pairs.empty() && format == "samples") {
        throw std::invalid_argument("--label-map applies to --from only");
    }
    request.libsvm.labels = request.csv.labels = request.idx.labels = labels;
    const std::size_t wanted = format == "idx" ? 2 : 1;
    if (request.inputs.size() != wanted) {
        throw std::invalid_argument(format == "idx" ? "--from idx needs an image file and a label file"
                                                    : "convert needs one input file");
    }
    if (wanted == 2 && request.inputs[0] == "-" && request.inputs[1] == "-") {
        throw std::invalid_argument("only one input can be standard input");
    }
    for (const std::string& input : request.inputs) {
        if (input.empty()) throw std::invalid_argument("an input file needs a name, not an empty one");
    }
    return request;
}

int run_convert(Args& args) {
    const ConvertRequest request = parse_convert(args);
    const std::string& input = request.inputs[0];
    RunFiles files;
    for (const std::string& each : request.inputs) files.input(each);
    const OutputTarget target = files.output(request.output.empty() ? "-" : request.output, StandardOutput::allowed);
    std::string out;
    if (request.from == "libsvm") {
        out = libsvm_to_samples(read_whole_file(input), input, request.libsvm);
    } else if (request.from == "csv") {
        out = csv_to_samples(read_whole_file(input), input, request.csv);
    } else if (request.from == "idx") {
        out = idx_to_samples(read_whole_file(input), input, read_whole_file(request.inputs[1]), request.inputs[1],
                             request.idx);
    } else {
        out = samples_to_libsvm(load_sample_stream(input));
    }
    write_output(target, out);
    return kExitDone;
}

int run_show(Args& args) {
    ShowOptions options;
    std::string output;
    std::string input;
    bool rows_given = false;
    while (!args.done()) {
        const std::string arg = args.take();
        if (is_help(arg)) throw HelpWanted{};
        if (arg == "-o" || arg == "--output") {
            output = args.path_of(arg);
        } else if (arg == "--rows") {
            if (!parse_row_list(args.value_of(arg), options.rows, kLargestRow)) {
                throw std::invalid_argument("--rows needs a list such as 0,5,9-12, rows up to " +
                                            std::to_string(kLargestRow) + ", at most " +
                                            std::to_string(kMaxListedRows) + " in all");
            }
            rows_given = true;
        } else if (arg == "--list") {
            options.list_path = args.path_of(arg);
        } else if (arg == "--label") {
            options.label = float_value(arg, args.value_of(arg));
        } else if (arg == "--zoom") {
            options.zoom = count_value(arg, args.value_of(arg), 1);
            if (options.zoom > kMaxZoom) {
                throw std::invalid_argument("--zoom goes up to " + std::to_string(kMaxZoom));
            }
        } else if (arg == "--columns") {
            options.columns = count_value(arg, args.value_of(arg), 1);
        } else if (arg == "--limit") {
            options.limit = count_value(arg, args.value_of(arg), 0);
        } else if (arg == "--range") {
            const std::string range = args.value_of(arg);
            const std::size_t colon = range.find(':');
            if (colon == std::string::npos) throw std::invalid_argument("--range needs LOW:HIGH");
            options.low = float_value(arg, std::string_view(range).substr(0, colon));
            options.high = float_value(arg, std::string_view(range).substr(colon + 1));
            if (!(*options.high > *options.low)) {
                throw std::invalid_argument("--range needs LOW below HIGH");
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw std::invalid_argument("show has no option " + arg);
        } else if (input.empty()) {
            input = arg;
        } else {
            throw std::invalid_argument("show takes one sample-set file");
        }
    }
    if (input.empty() || output.empty()) {
        throw std::invalid_argument("show needs a sample-set file and -o OUT.png");
    }
    if (rows_given && !options.list_path.empty()) {
        throw std::invalid_argument("choose rows with --rows or --list, not both");
    }
    RunFiles files;
    files.sample_set(input);
    if (!options.list_path.empty()) files.input(options.list_path);
    const std::size_t drawn = show_samples(input, files.output(output, StandardOutput::allowed), options);
    std::fprintf(stderr, "digit-tools: drew %zu images into %s\n", drawn, output.c_str());
    return kExitDone;
}

SweepOptions parse_sweep(Args& args) {
    SweepOptions options;
    while (!args.done()) {
        const std::string& arg = args.peek();
        if (is_help(arg)) throw HelpWanted{};
        if (arg == "--") {
            args.take();
            break;
        }
        if (arg.rfind("--", 0) != 0) break;  // the program's own options begin
        args.take();
        if (arg == "--programma") {
            options.programma = args.path_of(arg);
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else if (arg == "--digits") {
            options.digits.clear();
            if (!parse_row_list(args.value_of(arg), options.digits, 9)) {
                throw std::invalid_argument("--digits needs a list of digits 0 to 9 such as 0,3,7-9");
            }
        } else {
            throw std::invalid_argument("sweep has no option " + arg);
        }
    }
    while (!args.done()) options.passed.push_back(args.take());
    for (std::size_t i = 0; i < options.passed.size(); i += 2) {
        if (is_help(options.passed[i])) throw HelpWanted{};
    }
    if (options.passed.size() % 2 != 0) {
        throw std::invalid_argument("programma's options come in option/value pairs");
    }
    for (std::size_t i = 0; i < options.passed.size(); i += 2) {
        if (options.passed[i] == "-dg") throw std::invalid_argument("sweep sets -dg itself");
        if (options.passed[i] == "-l") {
            throw std::invalid_argument("a mistake list (-l) belongs to one digit; sweep trains");
        }
    }
    if (options.programma.empty()) options.programma = default_programma_path();
    return options;
}

int run_sweep_command(Args& args) {
    const SweepOptions options = parse_sweep(args);
    RunFiles files;
    files.input(options.programma);
    files.sample_set(passed_value(options.passed, "-tr", "Data/Training_set"));
    files.sample_set(passed_value(options.passed, "-ts", "Data/Test_set"));
    std::optional<OutputTarget> plot;
    if (!options.plot.empty()) {
        plot = files.output(options.plot);
        require_gnuplot();
    }
    const std::vector<DigitResult> results = run_sweep(options);
    if (plot) draw_plot(results, options, *plot);
    print(sweep_table(results, options.csv));
    return kExitDone;
}

// programma's own options, read by programma's own rules.
ClassifyOptions parse_classify(Args& args) {
    ClassifyOptions options;
    bool restore_or_lists = false;
    while (!args.done()) {
        const std::string arg = args.take();
        if (is_help(arg)) throw HelpWanted{};
        if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--unlabelled") {
            options.unlabelled = true;
        } else if (arg == "--combine") {
            options.combine = combine_value(args.value_of(arg));
        } else if (arg == "--predictions") {
            options.predictions = args.path_of(arg);
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else if (arg == "--lists" || arg == "--restore") {
            if (restore_or_lists) throw std::invalid_argument("give --lists or --restore once, not both");
            restore_or_lists = true;
            (arg == "--lists" ? options.lists : options.restore) = args.path_of(arg);
        } else if (arg == "-tr" || arg == "-ts") {
            (arg == "-tr" ? options.training_set : options.test_set) = args.path_of(arg);
        } else if (arg == "-k") {
            options.kind = kernel_value(arg, args.value_of(arg));
        } else if (arg == "-c" || arg == "-d") {
            (arg == "-c" ? options.constant : options.degree) = parameter_value(arg, args.value_of(arg));
        } else if (arg == "-e") {
            options.epochs = epochs_value(arg, args.value_of(arg));
        } else {
            throw std::invalid_argument("classify has no option " + arg);
        }
    }
    if (options.unlabelled && options.predictions.empty()) {
        throw std::invalid_argument("--unlabelled needs --predictions FILE: the answers are all it gives");
    }
    if (options.unlabelled && !options.plot.empty()) {
        throw std::invalid_argument("--unlabelled has no confusion table to --plot");
    }
    return options;
}

// The items of a comma list, each read by `read`; an empty item is refused.
template <typename T, typename Read>
std::vector<T> list_value(const std::string& option, const std::string& text, const Read& read) {
    std::vector<T> values;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty()) throw std::invalid_argument(option + " needs a comma list without empty items");
        values.push_back(read(item));
        if (comma == std::string::npos) return values;
        start = comma + 1;
    }
}

TuneOptions parse_tune(Args& args) {
    TuneOptions options;
    while (!args.done()) {
        const std::string arg = args.take();
        if (is_help(arg)) throw HelpWanted{};
        if (arg == "-k") {
            options.kernels = list_value<programma::KernelKind>(
                arg, args.value_of(arg), [&](const std::string& v) { return kernel_value(arg, v); });
        } else if (arg == "-c" || arg == "-d") {
            (arg == "-c" ? options.constants : options.degrees) = list_value<float>(
                arg, args.value_of(arg), [&](const std::string& v) { return parameter_value(arg, v); });
        } else if (arg == "-e") {
            options.epochs = list_value<uint32_t>(arg, args.value_of(arg),
                                                  [&](const std::string& v) { return epochs_value(arg, v); });
        } else if (arg == "--combine") {
            options.combines = list_value<programma::Combine>(arg, args.value_of(arg), combine_value);
        } else if (arg == "--folds") {
            options.folds = count_value(arg, args.value_of(arg), 2);
        } else if (arg == "--shuffle") {
            const std::string text = args.value_of(arg);
            uint64_t seed = 0;
            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seed);
            if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
                throw std::invalid_argument("--shuffle needs a whole number from 0, not '" + text + "'");
            }
            options.shuffle = seed;
        } else if (arg == "-tr" || arg == "-ts") {
            (arg == "-tr" ? options.training_set : options.test_set) = args.path_of(arg);
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else {
            throw std::invalid_argument("tune has no option " + arg);
        }
    }
    return options;
}

int run_tune_command(Args& args) {
    const TuneOptions options = parse_tune(args);
    RunFiles files;
    files.sample_set(options.training_set);
    if (!options.test_set.empty()) files.sample_set(options.test_set);
    std::optional<OutputTarget> plot;
    if (!options.plot.empty()) {
        plot = files.output(options.plot);
        require_gnuplot();
    }
    const TuneResult result = tune(options);
    if (plot) {
        if (const auto staged = draw_with_gnuplot(heat_map_script(tune_map(result, options)), *plot)) staged->commit();
    }
    print(tune_report(result, options.csv));
    return kExitDone;
}

int dispatch(const std::string& command, Args& args) {
    if (command == "classify") {
        run_classify(parse_classify(args));
        return kExitDone;
    }
    if (command == "convert") return run_convert(args);
    if (command == "show") return run_show(args);
    if (command == "tune") return run_tune_command(args);
    return run_sweep_command(args);
}

std::string_view help_of(const std::string& command) {
    if (command == "classify") return kClassifyHelp;
    if (command == "convert") return kConvertHelp;
    if (command == "show") return kShowHelp;
    if (command == "sweep") return kSweepHelp;
    if (command == "tune") return kTuneHelp;
    return kMainHelp;
}

}  // namespace

int digit_tools_run(const std::vector<std::string>& arguments) {
    if (arguments.empty()) {
        std::fputs(kMainHelp.data(), stderr);
        return kExitUsage;
    }
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help") {
        print(help_of(arguments.size() > 1 ? arguments[1] : ""));
        return kExitDone;
    }
    if (command == "--version") {
        print(std::string("digit-tools ") + programma::version() + "\n");
        return kExitDone;
    }
    if (command != "classify" && command != "convert" && command != "show" && command != "sweep" && command != "tune") {
        std::fprintf(stderr, "digit-tools: no command '%s'; see digit-tools --help\n", command.c_str());
        return kExitUsage;
    }
    Args args{std::vector<std::string>(arguments.begin() + 1, arguments.end())};
    try {
        return dispatch(command, args);
    } catch (const HelpWanted&) {
        print(help_of(command));
        return kExitDone;
    } catch (const std::invalid_argument& error) {
        std::fprintf(stderr, "digit-tools %s: %s; see digit-tools %s --help\n", command.c_str(), error.what(),
                     command.c_str());
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "digit-tools: out of memory\n");
        return kExitFailed;
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "digit-tools: %s\n", error.what());
        return kExitFailed;
    }
}

int digit_tools_main(int argc, char** argv) {
    // A file-size limit must give a write error to report, not a silent death.
    std::signal(SIGXFSZ, SIG_IGN);
    engine_options();  // the environment's engine options are read once, at start
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const int status = digit_tools_run(args);
    return standard_output_ok() ? status : kExitFailed;
}
