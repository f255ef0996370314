// `digit-tools show`: its help, its options, and its run: rows chosen by
// number, label or mistake list, drawn into a PNG file.
#include <cstdio>

#include "commands.h"
#include "output.h"
#include "show.h"

namespace {

constexpr std::string_view kHelp =
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

constexpr uint32_t kMaxZoom = 64;
constexpr uint32_t kLargestRow = kMaxListedRows - 1;

// What to draw, from which sample set, into which file.
struct ShowRequest {
    ShowOptions options;
    std::string input;
    std::string output;
};

ShowRequest parse_show(Arguments& args) {
    ShowRequest request;
    ShowOptions& options = request.options;
    bool rows_given = false;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (arg == "-o" || arg == "--output") {
            request.output = args.path_of(arg);
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
            options.zoom = at_most(arg, count_value(arg, args.value_of(arg), 1), kMaxZoom);
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
            args.refuse(arg);
        } else if (request.input.empty()) {
            request.input = arg;
        } else {
            throw std::invalid_argument("show takes one sample-set file");
        }
    }
    if (request.input.empty() || request.output.empty()) {
        throw std::invalid_argument("show needs a sample-set file and -o OUT.png");
    }
    if (rows_given && !options.list_path.empty()) {
        throw std::invalid_argument("choose rows with --rows or --list, not both");
    }
    return request;
}

int run(Arguments& args) {
    const ShowRequest request = parse_show(args);
    RunFiles files;
    files.sample_set(request.input);
    if (!request.options.list_path.empty()) {
        files.regular_input(request.options.list_path, "a list is read as a whole file, so give a file, not a stream");
    }
    const std::size_t drawn =
        show_samples(request.input, files.output(request.output, Takes::or_standard_output), request.options);
    std::fprintf(stderr, "digit-tools: drew %zu images into %s\n", drawn, request.output.c_str());
    return kExitDone;
}

}  // namespace

const Command kShowCommand = {"show", "draw rows of a sample-set file as a PNG grid of grey images", kHelp, run};
