// Pictures drawn by gnuplot. gnuplot gets data and fixed commands, never a
// byte of a user's name: it writes to its descriptor 3, a temporary file
// beside the target, and titles keep only plain characters.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output.h"

// Where a script has gnuplot write its picture.
inline constexpr const char* kGnuplotOutput = "/dev/fd/3";

// A title gnuplot takes as text whatever it holds: bytes other than letters,
// digits, blanks and -_.,:=+/()% become '?'.
std::string plot_title(const std::string& text);

// The checked output of --plot, once gnuplot is known to be there to draw
// it (throws otherwise); none when `path` is empty.
std::optional<OutputTarget> plot_target(RunFiles& files, const std::string& path);

// Runs gnuplot on `script` (which writes its PNG to kGnuplotOutput) into a
// temporary file beside `target`; throws unless gnuplot exits 0 and the PNG
// is complete. The caller commits the staged file, with the run's other
// outputs. A discarded target draws nothing (null).
std::unique_ptr<StagedFile> draw_with_gnuplot(const std::string& script, const OutputTarget& target);

// A table of numbers as a heat map: a colour a cell with the cell's value
// written in it, a colour key, axis titles and a title.
struct HeatMap {
    std::string title;
    std::string x_title;
    std::string y_title;
    std::string key_title;
    std::vector<std::string> x_labels;        // the columns, left to right
    std::vector<std::string> y_labels;        // the rows, top to bottom
    std::vector<std::vector<double>> values;  // [row][column]
    int decimals = 0;                         // of the values in the cells
};

// The gnuplot commands that draw a heat map into kGnuplotOutput.
std::string heat_map_script(const HeatMap& map);
