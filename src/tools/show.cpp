// Rows of a sample set as a PNG grid: ink (high values) dark on a white
// ground, each image scaled up by whole pixels, its label drawn below it.
#include "show.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

#include "labels.h"
#include "samples.h"

namespace {

constexpr uint64_t kMaxSide = 1000000;
constexpr uint64_t kMaxArea = uint64_t(1) << 28;

uint32_t square_side(const programma::SampleSet& samples) {
    const uint32_t features = samples.columns() - 1;
    const auto side = static_cast<uint32_t>(std::lround(std::sqrt(static_cast<double>(features))));
    if (features == 0 || side * side != features) {
        throw std::runtime_error("samples have " + std::to_string(features) + " features, not a square image");
    }
    return side;
}

// The value range drawn from white to black: given, or the set's own.
std::pair<float, float> grey_range(const programma::SampleSet& samples, const ShowOptions& options) {
    float low = std::numeric_limits<float>::infinity();
    float high = -low;
    for (uint32_t r = 0; r < samples.rows(); ++r) {
        const float* row = samples.row(r);
        for (uint32_t j = 0; j + 1 < samples.columns(); ++j) {
            if (!std::isfinite(row[j])) continue;
            low = std::min(low, row[j]);
            high = std::max(high, row[j]);
        }
    }
    low = options.low.value_or(low);
    high = options.high.value_or(high);
    if (!std::isfinite(low)) low = 0.0f;
    if (!std::isfinite(high) || high <= low) high = low + 1.0f;
    return {low, high};
}

uint8_t grey_of(float value, std::pair<float, float> range) {
    if (std::isnan(value)) return 128;
    const double share =
        (static_cast<double>(range.second) - value) / (static_cast<double>(range.second) - range.first);
    return static_cast<uint8_t>(std::lround(std::clamp(share, 0.0, 1.0) * 255.0));
}

}  // namespace

bool parse_row_list(std::string_view text, std::vector<uint32_t>& rows, uint32_t largest) {
    uint64_t listed = rows.size();
    return for_each_item(text, ',', [&](std::string_view item) {
        const std::size_t dash = item.find('-');
        uint32_t first = 0;
        uint32_t last = 0;
        if (dash == std::string_view::npos) {
            if (!parse_whole(item, first)) return false;
            last = first;
        } else if (!parse_whole(item.substr(0, dash), first) || !parse_whole(item.substr(dash + 1), last) ||
                   last < first) {
            return false;
        }
        listed += uint64_t(last) - first + 1;
        if (last > largest || listed > kMaxListedRows) return false;
        for (uint64_t r = first; r <= last; ++r) rows.push_back(static_cast<uint32_t>(r));
        return true;
    });
}

std::vector<uint32_t> mistake_rows(const std::string& list_path, uint32_t rows) {
    const std::vector<int32_t> entries = restored_list(list_path, rows);
    std::vector<bool> seen(rows, false);
    std::vector<uint32_t> order;
    for (const int32_t entry : entries) {
        const auto row = static_cast<uint32_t>(entry);
        if (seen[row]) continue;
        seen[row] = true;
        order.push_back(row);
    }
    return order;
}

std::vector<uint32_t> choose_rows(const programma::SampleSet& samples, const std::vector<uint32_t>& order,
                                  const ShowOptions& options) {
    std::vector<uint32_t> all;
    if (order.empty()) {
        for (uint32_t r = 0; r < samples.rows(); ++r) all.push_back(r);
    }
    const std::vector<uint32_t>& candidates = order.empty() ? all : order;
    std::vector<uint32_t> chosen;
    for (uint32_t row : candidates) {
        if (row >= samples.rows()) {
            throw std::runtime_error("row " + std::to_string(row) + " (counted from 0) is beyond the set's " +
                                     std::to_string(samples.rows()) + " rows");
        }
        const double label = samples.label(row);
        if (options.label && label != *options.label) continue;
        if (options.limit != 0 && chosen.size() == options.limit) break;
        chosen.push_back(row);
    }
    return chosen;
}

std::string drawn_label(float label) {
    if (!std::isfinite(label) || label != std::trunc(label) || std::fabs(label) > 1e9f) return "?";
    return label_text(label);
}

GridLayout grid_layout(const programma::SampleSet& samples, const std::vector<uint32_t>& rows,
                       const ShowOptions& options) {
    GridLayout layout;
    layout.side = square_side(samples);
    layout.image = layout.side * options.zoom;
    layout.font = std::max<uint32_t>(1, options.zoom / 2);
    uint32_t widest_label = 0;
    for (uint32_t row : rows) {
        widest_label = std::max(widest_label, text_width(drawn_label(samples.label(row)), layout.font));
    }
    layout.cell_width = std::max(layout.image, widest_label + 2 * layout.font);
    // A blank glyph-scale line above and below the label.
    layout.cell_height = layout.image + (kGlyphHeight + 2) * layout.font;
    const auto count = static_cast<uint32_t>(rows.size());
    layout.columns = std::min(options.columns, count);
    layout.rows = layout.columns == 0 ? 0 : (count + layout.columns - 1) / layout.columns;
    const uint64_t width = uint64_t(layout.columns) * (layout.cell_width + kCellGap) + kCellGap;
    const uint64_t height = uint64_t(layout.rows) * (layout.cell_height + kCellGap) + kCellGap;
    // libpng's own limit is a million pixels a side; the area bound keeps
    // the picture in memory.
    if (width > kMaxSide || height > kMaxSide || width * height > kMaxArea) {
        throw std::runtime_error("the picture would be " + std::to_string(width) + "x" + std::to_string(height) +
                                 " pixels, too large: draw fewer rows or use a smaller --zoom");
    }
    layout.width = static_cast<uint32_t>(width);
    layout.height = static_cast<uint32_t>(height);
    return layout;
}

GreyImage render_grid(const programma::SampleSet& samples, const std::vector<uint32_t>& rows,
                      const ShowOptions& options) {
    const GridLayout layout = grid_layout(samples, rows, options);
    const auto range = grey_range(samples, options);
    GreyImage image(layout.width, layout.height, kGapGrey);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const uint32_t cell_x = kCellGap + static_cast<uint32_t>(i % layout.columns) * (layout.cell_width + kCellGap);
        const uint32_t cell_y = kCellGap + static_cast<uint32_t>(i / layout.columns) * (layout.cell_height + kCellGap);
        for (uint32_t y = 0; y < layout.cell_height; ++y) {
            for (uint32_t x = 0; x < layout.cell_width; ++x) image.at(cell_x + x, cell_y + y) = 255;
        }
        const float* sample = samples.row(rows[i]);
        const uint32_t image_x = cell_x + (layout.cell_width - layout.image) / 2;
        for (uint32_t y = 0; y < layout.image; ++y) {
            for (uint32_t x = 0; x < layout.image; ++x) {
                const uint32_t feature = (y / options.zoom) * layout.side + x / options.zoom;
                image.at(image_x + x, cell_y + y) = grey_of(sample[feature], range);
            }
        }
        const std::string text = drawn_label(samples.label(rows[i]));
        draw_text(image, cell_x + (layout.cell_width - text_width(text, layout.font)) / 2,
                  cell_y + layout.image + layout.font, text, layout.font);
    }
    return image;
}

std::size_t show_samples(const std::string& samples_path, const OutputTarget& png, const ShowOptions& options) {
    const programma::SampleSet samples = load_sample_set(samples_path);
    try {
        square_side(samples);
    } catch (const std::runtime_error& error) {
        fail_in(samples_path, error.what());
    }
    std::vector<uint32_t> order = options.rows;
    if (!options.list_path.empty()) order = mistake_rows(options.list_path, samples.rows());
    const bool list_chosen = !options.list_path.empty();
    if (list_chosen && order.empty()) fail_in(options.list_path, "names no row");
    const std::vector<uint32_t> rows = choose_rows(samples, order, options);
    if (rows.empty()) fail_in(samples_path, "no row matches the choice");
    write_output(png, png_bytes(render_grid(samples, rows, options)));
    return rows.size();
}
