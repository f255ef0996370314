// `digit-tools scale`: its help, its options (convert's input formats among
// them), and its run: the outputs checked first, the scaled samples and the
// saved ranges staged together, so that a failure keeps both old files.
#include <memory>
#include <optional>

#include "commands.h"
#include "output.h"
#include "scale.h"
#include "text.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools scale [-l LOWER] [-u UPPER] [--save-ranges FILE] [-o OUT] [FORMAT] SAMPLES\n"
    "       digit-tools scale --ranges FILE [-o OUT] [FORMAT] SAMPLES\n"
    "\n"
    "Maps every feature linearly onto [LOWER, UPPER]: its least value in SAMPLES to\n"
    "LOWER, its greatest to UPPER. With --ranges, the ranges saved from a training\n"
    "file are applied instead, and values beyond them map beyond the bounds. A\n"
    "feature with one value in the training file maps to the middle of the bounds.\n"
    "Labels are written back untouched; a row whose label is not a number is refused.\n"
    "\n"
    "  -l N, -u N          the bounds (default -1 and 1)\n"
    "  --save-ranges FILE  save the ranges learned, in svm-scale's range-file format\n"
    "  --ranges FILE       apply ranges saved by --save-ranges or by svm-scale -s\n"
    "  -o, --output FILE   output file (default: standard output)\n"
    "  FORMAT              SAMPLES in another format, with convert's options for it:\n"
    "                      --from libsvm|csv|idx, --width, --delimiter, --header,\n"
    "                      --label-column, --resample, --scale, --label-map\n"
    "                      (--from idx takes IMAGES LABELS)\n"
    "SAMPLES may be - for standard input. Outputs are replaced only once wholly\n"
    "written; they may not be an input.\n";

ScaleOptions parse_scale(Arguments& args) {
    ScaleOptions options;
    bool bounds_given = false;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (take_input_option(args, arg, options.input)) continue;
        if (arg == "-l" || arg == "-u") {
            (arg == "-l" ? options.lower : options.upper) = float_value(arg, args.value_of(arg));
            bounds_given = true;
        } else if (arg == "--save-ranges") {
            options.save_ranges = args.path_of(arg);
        } else if (arg == "--ranges") {
            options.ranges = args.path_of(arg);
        } else if (arg == "-o" || arg == "--output") {
            options.output = args.path_of(arg);
        } else if (arg.size() > 1 && arg[0] == '-') {
            args.refuse(arg);
        } else {
            options.inputs.push_back(arg);
        }
    }
    finish_input_options(options.input);
    check_input_files(options.input, options.inputs, "scale");
    if (!options.ranges.empty() && bounds_given) {
        throw std::invalid_argument("-l and -u come from the range file with --ranges");
    }
    if (!options.ranges.empty() && !options.save_ranges.empty()) {
        throw std::invalid_argument("--ranges applies saved ranges, --save-ranges saves learned ones: give one");
    }
    const programma::Status bounds = programma::check(programma::FeatureRanges{options.lower, options.upper, {}});
    if (!bounds) throw std::invalid_argument("-l and -u: " + bounds.error().detail);
    return options;
}

int run(Arguments& args) {
    const ScaleOptions options = parse_scale(args);
    RunFiles files;
    for (const std::string& input : options.inputs) files.input(input);
    if (!options.ranges.empty()) files.input(options.ranges);
    const OutputTarget output = files.output(options.output.empty() ? "-" : options.output, Takes::or_standard_output);
    const std::optional<OutputTarget> ranges_output =
        options.save_ranges.empty() ? std::nullopt : std::optional(files.output(options.save_ranges));

    const Scaled scaled = scale_samples(options);
    std::vector<std::unique_ptr<StagedFile>> staged;
    if (ranges_output) {
        stage_output(staged, *ranges_output, programma::value_or_throw(programma::ranges_text(scaled.ranges)));
    }
    stage_output(staged, output, scaled.samples);
    commit_all(staged);
    if (output.destination == Destination::standard_output) write_output(output, scaled.samples);
    return kExitDone;
}

}  // namespace

const Command kScaleCommand = {"scale", "map every feature linearly onto [-1, 1] by the ranges of a training file",
                               kHelp, run};
