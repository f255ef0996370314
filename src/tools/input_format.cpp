// The input formats' options, read in one place for every command that
// takes them, and the reading of an input in one of them.
#include "input_format.h"

#include <stdexcept>

namespace {

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

InputFormat format_named(const std::string& from) {
    if (from.empty()) return InputFormat::samples;
    if (from == "libsvm") return InputFormat::libsvm;
    if (from == "csv") return InputFormat::csv;
    if (from == "idx") return InputFormat::idx;
    throw std::invalid_argument("--from takes libsvm, csv or idx, not '" + from + "'");
}

}  // namespace

bool take_input_option(Arguments& args, const std::string& option, InputOptions& input) {
    if (option == "--from") {
        input.from = args.value_of(option);
    } else if (option == "--label-map") {
        add_label_map(input.labels, args.value_of(option));
    } else if (option == "--width") {
        input.libsvm.width = at_most(option, count_value(option, args.value_of(option), 1), kMaxLibsvmWidth);
        input.format_options.emplace_back(option, "libsvm");
    } else if (option == "--delimiter") {
        input.csv.delimiter = delimiter_value(args.value_of(option));
        input.format_options.emplace_back(option, "csv");
    } else if (option == "--header") {
        input.csv.header = true;
        input.format_options.emplace_back(option, "csv");
    } else if (option == "--label-column") {
        const std::string value = args.value_of(option);
        input.csv.label_column = value == "last" ? 0 : count_value(option, value, 1);
        input.format_options.emplace_back(option, "csv");
    } else if (option == "--resample") {
        input.idx.resample = at_most(option, count_value(option, args.value_of(option), 1), kMaxResample);
        input.format_options.emplace_back(option, "idx");
    } else if (option == "--scale") {
        input.idx.scale = true;
        input.format_options.emplace_back(option, "idx");
    } else {
        return false;
    }
    return true;
}

void finish_input_options(InputOptions& input) {
    input.format = format_named(input.from);
    const std::string format = input.from.empty() ? "samples" : input.from;
    for (const auto& [option, owner] : input.format_options) {
        if (owner != format) throw std::invalid_argument(option + " applies to --from " + owner + " only");
    }
    if (!input.labels.pairs.empty() && input.format == InputFormat::samples) {
        throw std::invalid_argument("--label-map applies to --from only");
    }
    input.libsvm.labels = input.csv.labels = input.idx.labels = input.labels;
}

void check_input_files(const InputOptions& input, const std::vector<std::string>& inputs, std::string_view command) {
    const bool idx = input.format == InputFormat::idx;
    if (inputs.size() != (idx ? 2 : 1)) {
        throw std::invalid_argument(idx ? "--from idx needs an image file and a label file"
                                        : std::string(command) + " needs one input file");
    }
    if (idx && inputs[0] == "-" && inputs[1] == "-") {
        throw std::invalid_argument("only one input can be standard input");
    }
    for (const std::string& name : inputs) {
        if (name.empty()) throw std::invalid_argument("an input file needs a name, not an empty one");
    }
}

ConvertedRows read_converted(const InputOptions& input, const std::vector<std::string>& inputs) {
    switch (input.format) {
        case InputFormat::libsvm: return libsvm_rows(read_whole_file(inputs[0]), inputs[0], input.libsvm);
        case InputFormat::csv: return csv_rows(read_whole_file(inputs[0]), inputs[0], input.csv);
        case InputFormat::idx:
            return idx_rows(read_whole_file(inputs[0]), inputs[0], read_whole_file(inputs[1]), inputs[1], input.idx);
        case InputFormat::samples: break;
    }
    throw std::logic_error("a sample-set file is loaded as a sample set, not converted");
}
