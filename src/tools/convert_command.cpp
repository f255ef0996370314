// `digit-tools convert`: its help, its options (each format's own refused
// with another format), and its run: the inputs read whole, the converted
// text written through the output rule.
#include "commands.h"
#include "convert.h"
#include "idx.h"
#include "output.h"

namespace {

constexpr std::string_view kHelp =
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

constexpr uint32_t kMaxResample = 1024;

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

ConvertRequest parse_convert(Arguments& args) {
    ConvertRequest request;
    LabelMap labels;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (arg == "--from") {
            request.from = args.value_of(arg);
        } else if (arg == "--to") {
            request.to = args.value_of(arg);
        } else if (arg == "-o" || arg == "--output") {
            request.output = args.path_of(arg);
        } else if (arg == "--label-map") {
            add_label_map(labels, args.value_of(arg));
        } else if (arg == "--width") {
            request.libsvm.width = at_most(arg, count_value(arg, args.value_of(arg), 1), kMaxLibsvmWidth);
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
            args.refuse(arg);
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

int run(Arguments& args) {
    const ConvertRequest request = parse_convert(args);
    const std::string& input = request.inputs[0];
    RunFiles files;
    for (const std::string& each : request.inputs) files.input(each);
    const OutputTarget target = files.output(request.output.empty() ? "-" : request.output, Takes::or_standard_output);
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

}  // namespace

const Command kConvertCommand = {"convert", "write a sample-set file from LIBSVM, CSV or IDX data, or LIBSVM from one",
                                 kHelp, run};
