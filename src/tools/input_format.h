// The formats convert reads, for any command that reads samples: --from
// and each format's own options read from a command line, and an input in
// one of them read into rows.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.h"
#include "convert.h"
#include "idx.h"

enum class InputFormat { samples, libsvm, csv, idx };

struct InputOptions {
    std::string from;  // as given; empty for sample-set files
    InputFormat format = InputFormat::samples;
    LibsvmOptions libsvm;
    CsvOptions csv;
    IdxOptions idx;
    LabelMap labels;
    std::vector<std::pair<std::string, std::string>> format_options;  // option given, its format
};

// Takes `option` and its value when it is --from, --label-map or one
// format's own option (true); false when it is none of them.
bool take_input_option(Arguments& args, const std::string& option, InputOptions& input);

// After the whole command line: reads --from, refuses an option of another
// format than it (and --label-map without it), and gives every format the
// label map. `--to`'s "samples" format is the sample-set file.
void finish_input_options(InputOptions& input);

// Refuses other than one input file (an image file and a label file for
// IDX), two from standard input, and an empty name.
void check_input_files(const InputOptions& input, const std::vector<std::string>& inputs, std::string_view command);

// Reads the input files of a format other than sample-set files (those are
// loaded as sample sets).
ConvertedRows read_converted(const InputOptions& input, const std::vector<std::string>& inputs);
