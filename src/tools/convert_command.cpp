// `digit-tools convert`: its help, its options (each format's own refused
// with another format), and its run: the inputs read whole, the converted
// text written through the output rule.
#include "commands.h"
#include "input_format.h"
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

// Options given to convert: its input, in one of the formats, and where it goes.
struct ConvertRequest {
    std::string to;
    std::string output;
    std::vector<std::string> inputs;
    InputOptions input;
};

ConvertRequest parse_convert(Arguments& args) {
    ConvertRequest request;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (take_input_option(args, arg, request.input)) continue;
        if (arg == "--to") {
            request.to = args.value_of(arg);
        } else if (arg == "-o" || arg == "--output") {
            request.output = args.path_of(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            args.refuse(arg);
        } else {
            request.inputs.push_back(arg);
        }
    }
    if (request.input.from.empty() == request.to.empty()) {
        throw std::invalid_argument("convert needs --from FORMAT or --to libsvm");
    }
    if (!request.to.empty() && request.to != "libsvm") {
        throw std::invalid_argument("--to takes only libsvm");
    }
    finish_input_options(request.input);
    check_input_files(request.input, request.inputs, "convert");
    return request;
}

int run(Arguments& args) {
    const ConvertRequest request = parse_convert(args);
    RunFiles files;
    for (const std::string& each : request.inputs) files.input(each);
    const OutputTarget target = files.output(request.output.empty() ? "-" : request.output, Takes::or_standard_output);
    const std::string out = request.input.format == InputFormat::samples
                                ? samples_to_libsvm(load_sample_stream(request.inputs[0]))
                                : sample_text(read_converted(request.input, request.inputs));
    write_output(target, out);
    return kExitDone;
}

}  // namespace

const Command kConvertCommand = {"convert", "write a sample-set file from LIBSVM, CSV or IDX data, or LIBSVM from one",
                                 kHelp, run};
