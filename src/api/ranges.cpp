// Feature ranges: learned from a training set, checked, applied, and written
// and read in svm-scale's range-file format.
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <optional>

#include "diagnostics.h"
#include "mistake_file.h"
#include "programma/preparation.h"
#include "sample_rows.h"
#include "text_fields.h"

namespace programma {

namespace {

// Wider than this, an index is surely damage, not a feature (convert's
// widest LIBSVM row too).
constexpr uint32_t kWidestIndex = uint32_t(1) << 24;
constexpr float kNoValue = std::numeric_limits<float>::quiet_NaN();

Error invalid(const std::string& field, const std::string& detail) {
    return Error{ErrorKind::invalid_argument, detail, {}, 0, 0, field};
}

bool valid_range(const FeatureRange& range) {
    const bool unknown = std::isnan(range.min) && std::isnan(range.max);
    return unknown || (std::isfinite(range.min) && std::isfinite(range.max) && range.min <= range.max);
}

// The line-by-line reading of a range file, each refusal naming its line.
class RangeReader {
public:
    explicit RangeReader(const std::string& path) : path_(path) {}

    Result<FeatureRanges> read(std::string_view text) {
        for (std::size_t start = 0; start < text.size();) {
            const std::size_t newline = std::min(text.find('\n', start), text.size());
            std::string_view line = text.substr(start, newline - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            ++line_;
            start = newline + 1;
            const std::vector<std::string_view> tokens = tokens_of(line);
            if (tokens.empty()) continue;
            if (std::optional<Error> fault = take(tokens)) return *fault;
        }
        if (stage_ == Stage::header) return fault_in_file("holds no 'x' line: it is not a range file");
        if (stage_ == Stage::bounds) return fault_in_file("ends before its bounds line, LOWER UPPER");
        return ranges_;
    }

private:
    enum class Stage { header, bounds, features };

    std::optional<Error> take(const std::vector<std::string_view>& tokens) {
        switch (stage_) {
            case Stage::header: return take_header(tokens);
            case Stage::bounds: return take_bounds(tokens);
            case Stage::features: return take_feature(tokens);
        }
        return std::nullopt;  // not reached: every stage is handled above
    }

    std::optional<Error> take_header(const std::vector<std::string_view>& tokens) {
        if (tokens.size() == 1 && tokens[0] == "y") {
            return fault("scales labels (a 'y' section), which is not offered: labels pass through unchanged");
        }
        if (tokens.size() != 1 || tokens[0] != "x") return fault("expected 'x', the first line of a range file");
        stage_ = Stage::bounds;
        return std::nullopt;
    }

    std::optional<Error> take_bounds(const std::vector<std::string_view>& tokens) {
        const std::optional<float> lower = tokens.size() == 2 ? float_token(tokens[0]) : std::nullopt;
        const std::optional<float> upper = tokens.size() == 2 ? float_token(tokens[1]) : std::nullopt;
        if (!lower || !upper) return fault("expected the bounds, two numbers LOWER UPPER");
        ranges_.lower = *lower;
        ranges_.upper = *upper;
        if (Status checked = check(ranges_); !checked) return fault(checked.error().detail);
        stage_ = Stage::features;
        return std::nullopt;
    }

    std::optional<Error> take_feature(const std::vector<std::string_view>& tokens) {
        if (tokens.size() != 3) return fault("expected INDEX MIN MAX, three numbers");
        uint32_t index = 0;
        const std::string_view digits = tokens[0];
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (error != std::errc() || end != digits.data() + digits.size() || index == 0 || index > kWidestIndex) {
            return fault("the index '" + std::string(digits) + "' is not a whole number from 1 to " +
                         std::to_string(kWidestIndex));
        }
        if (index <= ranges_.features.size())
            return fault("indices must ascend, " + std::to_string(index) + " does not");
        const std::optional<float> min = float_token(tokens[1]);
        const std::optional<float> max = float_token(tokens[2]);
        for (std::size_t t = 1; t < 3; ++t) {
            const std::optional<float> value = t == 1 ? min : max;
            if (!value || !std::isfinite(*value)) {
                return fault(std::string(t == 1 ? "MIN" : "MAX") + " '" + std::string(tokens[t]) +
                             "' is not a finite float");
            }
        }
        if (*min > *max) return fault("MIN is above MAX");
        ranges_.features.resize(index, FeatureRange{kNoValue, kNoValue});
        ranges_.features.back() = FeatureRange{*min, *max};
        return std::nullopt;
    }

    Error fault(const std::string& detail) const { return Error{ErrorKind::bad_data, detail, path_, line_, 0, {}}; }
    Error fault_in_file(const std::string& detail) const { return Error{ErrorKind::bad_data, detail, path_, 0, 0, {}}; }

    std::string path_;
    uint64_t line_ = 0;
    Stage stage_ = Stage::header;
    FeatureRanges ranges_;
};

}  // namespace

Status check(const FeatureRanges& ranges) {
    if (!std::isfinite(ranges.lower)) return invalid("lower", "the lower bound must be finite");
    if (!std::isfinite(ranges.upper)) return invalid("upper", "the upper bound must be finite");
    if (!(ranges.lower < ranges.upper)) return invalid("upper", "the lower bound must be below the upper one");
    for (std::size_t f = 0; f < ranges.features.size(); ++f) {
        if (!valid_range(ranges.features[f])) {
            return invalid("features", "feature " + std::to_string(f + 1) +
                                           ": min and max must be finite with min <= max, or both NaN");
        }
    }
    return Done{};
}

Result<FeatureRanges> feature_ranges(const SampleSet& training, float lower, float upper) {
    FeatureRanges ranges{lower, upper, {}};
    if (Status checked = check(ranges); !checked) return checked.error();
    if (training.rows() == 0) return invalid("training", "a sample set of no row has no ranges");
    const uint32_t features = training.features();
    try {
        ranges.features.assign(features, FeatureRange{kNoValue, kNoValue});
        for (uint32_t r = 0; r < training.rows(); ++r) {
            const float* row = training.row(r);
            for (uint32_t f = 0; f < features; ++f) {
                const float x = row[f];
                if (std::isnan(x)) continue;
                if (std::isinf(x)) {
                    return Error{ErrorKind::bad_data,
                                 "row " + std::to_string(r) + " (counted from 0), feature " + std::to_string(f + 1) +
                                     ": an infinite value has no range",
                                 {},
                                 0,
                                 0,
                                 {}};
                }
                FeatureRange& range = ranges.features[f];
                if (std::isnan(range.min)) range = FeatureRange{x, x};
                if (x < range.min) range.min = x;
                if (x > range.max) range.max = x;
            }
        }
    } catch (const std::bad_alloc&) {
        return Error{ErrorKind::out_of_memory, "out of memory", {}, 0, 0, {}};
    }
    return ranges;
}

float scaled_feature(const FeatureRanges& ranges, std::size_t feature, float value) {
    if (std::isnan(value)) return value;
    const double lower = ranges.lower;
    const double upper = ranges.upper;
    if (feature >= ranges.features.size() || !ranges.features[feature].spread()) {
        return static_cast<float>((lower + upper) / 2);
    }
    const FeatureRange range = ranges.features[feature];
    if (value == range.min) return ranges.lower;
    if (value == range.max) return ranges.upper;
    const double x = value;
    const double min = range.min;
    const double max = range.max;
    return static_cast<float>(lower + ((upper - lower) * (x - min)) / (max - min));
}

Result<SampleSet> apply_ranges(const FeatureRanges& ranges, const SampleSet& samples) {
    if (Status checked = check(ranges); !checked) return checked.error();
    if (samples.rows() == 0) return invalid("samples", "a sample set of no row");
    const uint32_t features = samples.features();
    if (ranges.features.size() > features) {
        return invalid("features", "the ranges name feature " + std::to_string(ranges.features.size()) +
                                       ", beyond the samples' " + std::to_string(features));
    }
    try {
        auto held = std::make_shared<SampleSet::Rows>();
        held->matrix = matrix_of(samples);
        for (uint32_t r = 0; r < samples.rows(); ++r) {
            float* row = held->matrix.row(r);
            for (uint32_t f = 0; f < features; ++f) row[f] = scaled_feature(ranges, f, row[f]);
        }
        return SampleSet(std::move(held));
    } catch (const std::bad_alloc&) {
        return Error{ErrorKind::out_of_memory, "out of memory", {}, 0, 0, {}};
    }
}

Result<std::string> ranges_text(const FeatureRanges& ranges) {
    if (Status checked = check(ranges); !checked) return checked.error();
    std::string text = "x\n";
    append_number(text, ranges.lower);
    text += ' ';
    append_number(text, ranges.upper);
    text += '\n';
    for (std::size_t f = 0; f < ranges.features.size(); ++f) {
        if (!ranges.features[f].spread()) continue;
        text += std::to_string(f + 1);
        text += ' ';
        append_number(text, ranges.features[f].min);
        text += ' ';
        append_number(text, ranges.features[f].max);
        text += '\n';
    }
    return text;
}

Result<FeatureRanges> parse_ranges(std::string_view text, const std::string& path) {
    try {
        return RangeReader(path).read(text);
    } catch (const std::bad_alloc&) {
        return Error{ErrorKind::out_of_memory, "out of memory", path, 0, 0, {}};
    }
}

Result<FeatureRanges> read_ranges(const std::string& path) {
    DiagnosticCapture capture;
    std::string text;
    if (!read_text_file(path.c_str(), text)) return capture.error();
    return parse_ranges(text, path);
}

Status save_ranges(const std::string& path, const FeatureRanges& ranges) {
    Result<std::string> text = ranges_text(ranges);
    if (!text) return text.error();
    DiagnosticCapture capture;
    if (!save_text(path.c_str(), text.value())) return capture.error();
    return Done{};
}

}  // namespace programma
