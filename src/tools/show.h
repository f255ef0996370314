// `show`: chosen rows of a sample set drawn as a grid of grey images, each
// with its label underneath, written as a PNG file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "grey_image.h"
#include "output.h"
#include "programma/api.h"

struct ShowOptions {
    std::vector<uint32_t> rows;   // rows to draw, in order (empty: every row)
    std::string list_path;        // or the rows of a mistake list
    std::optional<double> label;  // keep only rows with this label
    uint32_t zoom = 4;            // screen pixels per feature
    uint32_t columns = 10;        // images per grid row
    uint32_t limit = 100;         // most images drawn; 0 means all
    std::optional<float> low;     // value drawn white (default: the set's least)
    std::optional<float> high;    // value drawn black (default: the set's greatest)
};

// Where things go in the grid; every size is in output pixels.
struct GridLayout {
    uint32_t side = 0;         // features per image side
    uint32_t image = 0;        // side * zoom
    uint32_t font = 1;         // label glyph scale
    uint32_t cell_width = 0;   // an image or its widest label, whichever is wider
    uint32_t cell_height = 0;  // the image and its label strip
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Blank pixels between cells and around the grid, and their grey.
constexpr uint32_t kCellGap = 2;
constexpr uint8_t kGapGrey = 160;

// The most entries a row list may expand to.
constexpr uint32_t kMaxListedRows = uint32_t(1) << 24;

// Parses "0,5,9-12" into rows; false when malformed, when a number is above
// `largest` or when the list would expand beyond kMaxListedRows entries
// (both checked before anything is expanded).
bool parse_row_list(std::string_view text, std::vector<uint32_t>& rows, uint32_t largest);

// The rows a mistake list names, in list order, each only at its first
// appearance; throws when an entry names no row of a `rows`-row set.
std::vector<uint32_t> mistake_rows(const std::string& list_path, uint32_t rows);

// The rows to draw: `order` (or every row), filtered by label and cut to the limit.
std::vector<uint32_t> choose_rows(const programma::SampleSet& samples, const std::vector<uint32_t>& order,
                                  const ShowOptions& options);

// The label as drawn: a whole number, or "?".
std::string drawn_label(float label);

GridLayout grid_layout(const programma::SampleSet& samples, const std::vector<uint32_t>& rows,
                       const ShowOptions& options);

GreyImage render_grid(const programma::SampleSet& samples, const std::vector<uint32_t>& rows,
                      const ShowOptions& options);

// The whole command: loads, chooses, draws and writes. Returns the image count.
std::size_t show_samples(const std::string& samples_path, const OutputTarget& png, const ShowOptions& options);
