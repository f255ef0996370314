// A model as text: written line by line, and read back with every refusal
// naming the line at fault.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <optional>
#include <unordered_set>

#include "model_check.h"
#include "programma/model.h"
#include "safe_call.h"
#include "text_fields.h"

namespace programma {
namespace {

constexpr std::string_view kFormatLine = "programma-model 1";

const char* kernel_word(KernelKind kind) {
    switch (kind) {
        case KernelKind::polynomial: return "pol";
        case KernelKind::gaussian: return "gauss";
    }
    return "?";
}

const char* combine_word(Combine combine) {
    switch (combine) {
        case Combine::last: return "last";
        case Combine::average: return "average";
        case Combine::vote: return "vote";
    }
    return "?";
}

const char* label_kind_word(LabelKind kind) {
    switch (kind) {
        case LabelKind::integer: return "integer";
        case LabelKind::real: return "real";
        case LabelKind::text: return "text";
    }
    return "?";
}

const char* rule_word(DecisionRule rule) {
    switch (rule) {
        case DecisionRule::per_label: return "per-label";
        case DecisionRule::by_sign: return "by-sign";
    }
    return "?";
}

std::optional<std::string> unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            default: return std::nullopt;
        }
    }
    return out;
}

void append_header(std::string& text, const Model& model, const std::string& ranges) {
    text.append(kFormatLine).append("\nkernel ").append(kernel_word(model.kernel.kind)).append(" ");
    append_shortest(text, model.kernel.parameter);
    text.append("\nepochs ").append(std::to_string(model.epochs)).append("\nmargin ");
    append_shortest(text, model.margin);
    text.append("\ncombine ").append(combine_word(model.combine));
    text.append("\nshuffle ").append(model.shuffle ? std::to_string(*model.shuffle) : "none");
    text.append("\ntraining-rows ").append(std::to_string(model.training_rows));
    text.append("\nfeatures ").append(std::to_string(model.features));
    text.append("\nlabels ").append(label_kind_word(model.label_kind)).append(" ");
    text.append(std::to_string(model.labels.size())).append("\n");
    for (const std::string& label : model.labels) text.append("label ").append(escaped_label(label)).append("\n");
    text.append("rule ").append(rule_word(model.rule)).append("\n");
    const auto range_lines = std::count(ranges.begin(), ranges.end(), '\n');
    text.append("ranges ").append(model.ranges ? std::to_string(range_lines) : "none").append("\n").append(ranges);
}

void append_body(std::string& text, const Model& model) {
    text.append("support ").append(std::to_string(model.support.size())).append("\n");
    for (std::size_t s = 0; s < model.support.size(); ++s) {
        const SupportRow& row = model.support[s];
        text.append(std::to_string(row.row)).append(" ").append(std::to_string(row.position));
        text.append(" ").append(std::to_string(row.label));
        for (uint32_t f = 0; f < model.features; ++f) {
            text += ' ';
            append_shortest(text, model.support_features[s * model.features + f]);
        }
        text += '\n';
    }
    text.append("lists ").append(std::to_string(model.lists.size())).append("\n");
    for (std::size_t i = 0; i < model.lists.size(); ++i) {
        const uint32_t label = model.rule == DecisionRule::by_sign ? 1 : uint32_t(i);
        text.append("list ").append(std::to_string(label)).append(" ");
        text.append(std::to_string(model.lists[i].size()));
        for (const int32_t entry : model.lists[i]) text.append(" ").append(std::to_string(entry));
        text += '\n';
    }
    text.append("end\n");
}

// The reading, a line at a time; each refusal names its line.
class ModelReader {
public:
    ModelReader(std::string_view text, const std::string& path) : text_(text), path_(path) {}

    Result<Model> read() {
        if (auto fault = header()) return *fault;
        if (auto fault = labels()) return *fault;
        if (auto fault = ranges()) return *fault;
        if (auto fault = support()) return *fault;
        if (auto fault = lists()) return *fault;
        if (auto fault = ending()) return *fault;
        if (Status checked = check(model_); !checked) return fault_in_file(checked.error().detail);
        return std::move(model_);
    }

private:
    using Fault = std::optional<Error>;

    // The next line, without its carriage return; none at the end.
    std::optional<std::string_view> next() {
        if (at_ >= text_.size()) return std::nullopt;
        const std::size_t newline = std::min(text_.find('\n', at_), text_.size());
        std::string_view line = text_.substr(at_, newline - at_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        at_ = newline + 1;
        ++line_;
        return line;
    }

    // The next line's tokens after KEY, `count` of them (any count when
    // negative); a fault otherwise.
    Fault keyed(std::string_view key, int count, std::vector<std::string_view>& tokens, const char* shape) {
        const std::optional<std::string_view> line = next();
        if (!line) return fault_in_file("ends early: expected '" + std::string(shape) + "'");
        tokens = tokens_of(*line);
        if (tokens.empty() || tokens[0] != key || (count >= 0 && tokens.size() != std::size_t(count) + 1)) {
            return fault("expected '" + std::string(shape) + "'");
        }
        tokens.erase(tokens.begin());
        return std::nullopt;
    }

    // A kernel, epochs or margin line's value, refused by the recogniser check.
    Fault checked_setting() {
        const Status checked = check(Recogniser{0, model_.kernel, model_.epochs, model_.margin});
        return checked ? Fault{} : fault(checked.error().detail);
    }

    Fault header() {
        const std::optional<std::string_view> first = next();
        if (!first) return fault_in_file("is empty: not a model");
        if (first->substr(0, 16) != "programma-model ") {
            return fault("not a model: expected '" + std::string(kFormatLine) + "'");
        }
        if (*first != kFormatLine)
            return fault("a model of another version: this reads '" + std::string(kFormatLine) + "'");
        std::vector<std::string_view> t;
        if (auto f = keyed("kernel", 2, t, "kernel pol|gauss PARAMETER")) return f;
        if (t[0] != "pol" && t[0] != "gauss") return fault("no kernel '" + std::string(t[0]) + "': pol or gauss");
        const std::optional<float> parameter = exact_float(t[1]);
        if (!parameter) return fault("the kernel parameter '" + std::string(t[1]) + "' is not a float");
        model_.kernel = {t[0] == "pol" ? KernelKind::polynomial : KernelKind::gaussian, *parameter};
        model_.epochs = 1;
        if (auto f = checked_setting()) return f;
        if (auto f = keyed("epochs", 1, t, "epochs E")) return f;
        const std::optional<uint32_t> epochs = whole_number<uint32_t>(t[0]);
        if (!epochs) return fault("the epochs '" + std::string(t[0]) + "' are not a count");
        model_.epochs = *epochs;
        if (auto f = checked_setting()) return f;
        if (auto f = keyed("margin", 1, t, "margin M")) return f;
        const std::optional<float> margin = exact_float(t[0]);
        if (!margin) return fault("the margin '" + std::string(t[0]) + "' is not a float");
        model_.margin = *margin;
        if (auto f = checked_setting()) return f;
        return settings();
    }

    Fault settings() {
        std::vector<std::string_view> t;
        if (auto f = keyed("combine", 1, t, "combine last|average|vote")) return f;
        if (t[0] == "last" || t[0] == "average" || t[0] == "vote") {
            model_.combine = t[0] == "last" ? Combine::last : t[0] == "average" ? Combine::average : Combine::vote;
        } else {
            return fault("no combiner '" + std::string(t[0]) + "': last, average or vote");
        }
        if (auto f = keyed("shuffle", 1, t, "shuffle none|SEED")) return f;
        if (t[0] != "none") {
            model_.shuffle = whole_number<uint64_t>(t[0]);
            if (!model_.shuffle) return fault("the seed '" + std::string(t[0]) + "' is not a whole number");
        }
        if (auto f = count_line("training-rows", model_.training_rows)) return f;
        if (model_.training_rows == 0) return fault("a model is trained on one row or more");
        if (auto f = count_line("features", model_.features)) return f;
        if (model_.features == 0) return fault("a model has one feature or more");
        return std::nullopt;
    }

    Fault count_line(const char* key, uint32_t& count) {
        std::vector<std::string_view> t;
        if (auto f = keyed(key, 1, t, (std::string(key) + " COUNT").c_str())) return f;
        const std::optional<uint32_t> value = whole_number<uint32_t>(t[0]);
        if (!value) return fault("'" + std::string(t[0]) + "' is not a count");
        count = *value;
        return std::nullopt;
    }

    Fault labels() {
        std::vector<std::string_view> t;
        if (auto f = keyed("labels", 2, t, "labels integer|real|text COUNT")) return f;
        if (t[0] == "integer" || t[0] == "real" || t[0] == "text") {
            model_.label_kind = t[0] == "integer" ? LabelKind::integer
                                : t[0] == "real"  ? LabelKind::real
                                                  : LabelKind::text;
        } else {
            return fault("no kind of label '" + std::string(t[0]) + "': integer, real or text");
        }
        const std::optional<uint32_t> count = whole_number<uint32_t>(t[1]);
        if (!count || *count < 2) return fault("a model needs two labels or more");
        std::unordered_set<std::string> seen;
        for (uint32_t i = 0; i < *count; ++i) {
            const std::optional<std::string_view> line = next();
            if (!line) return fault_in_file("ends early: expected 'label TEXT'");
            const std::optional<std::string> label =
                line->substr(0, 6) == "label " ? unescaped(line->substr(6)) : std::nullopt;
            if (!label) return fault("expected 'label TEXT' (with \\\\, \\n and \\r escaped)");
            model_.labels.push_back(*label);
            if (!valid_label(model_.label_kind, *label)) {
                return fault("the label '" + *label + "' is not " +
                             (model_.label_kind == LabelKind::integer ? "a whole number" : "a finite number"));
            }
            if (!seen.insert(label_key(model_.label_kind, *label)).second) {
                return fault("the label '" + *label + "' comes twice");
            }
        }
        if (auto f = keyed("rule", 1, t, "rule per-label|by-sign")) return f;
        if (t[0] != "per-label" && t[0] != "by-sign") return fault("no rule '" + std::string(t[0]) + "'");
        model_.rule = t[0] == "by-sign" ? DecisionRule::by_sign : DecisionRule::per_label;
        if (model_.rule == DecisionRule::by_sign && model_.labels.size() != 2) {
            return fault("answering by sign needs two labels");
        }
        return std::nullopt;
    }

    Fault ranges() {
        std::vector<std::string_view> t;
        if (auto f = keyed("ranges", 1, t, "ranges none|LINES")) return f;
        if (t[0] == "none") return std::nullopt;
        const std::optional<uint32_t> count = whole_number<uint32_t>(t[0]);
        if (!count) return fault("'" + std::string(t[0]) + "' is not a count of lines");
        const uint64_t first = line_ + 1;
        const std::size_t start = std::min(at_, text_.size());
        for (uint32_t i = 0; i < *count; ++i) {
            if (!next()) return fault_in_file("ends early: expected the ranges' lines");
        }
        Result<FeatureRanges> parsed = parse_ranges(text_.substr(start, std::min(at_, text_.size()) - start), path_);
        if (!parsed) {
            Error error = parsed.error();
            error.line = error.line == 0 ? first - 1 : error.line + first - 1;
            return error;
        }
        if (parsed.value().features.size() > model_.features) {
            return Error{
                ErrorKind::bad_data, "the ranges name more features than the model's", path_, first - 1, 0, {}};
        }
        model_.ranges = std::move(parsed).value();
        return std::nullopt;
    }

    Fault support() {
        uint32_t count = 0;
        if (auto f = count_line("support", count)) return f;
        std::unordered_set<uint32_t> positions;
        for (uint32_t s = 0; s < count; ++s) {
            std::vector<std::string_view> t;
            const std::optional<std::string_view> line = next();
            if (!line) return fault_in_file("ends early: expected " + std::to_string(count) + " support rows");
            t = tokens_of(*line);
            if (t.size() != std::size_t(model_.features) + 3) {
                return fault("expected ROW POSITION LABEL and " + std::to_string(model_.features) + " features");
            }
            const auto row = whole_number<uint32_t>(t[0]), position = whole_number<uint32_t>(t[1]),
                       label = whole_number<uint32_t>(t[2]);
            if (!row || !position || !label) return fault("ROW, POSITION and LABEL must be whole numbers");
            if (!model_.support.empty() && *row <= model_.support.back().row) return fault("rows must ascend");
            if (*row >= model_.training_rows || *position >= model_.training_rows) {
                return fault("the row or its position lies beyond the training rows");
            }
            if (!positions.insert(*position).second) return fault("another row has this position");
            if (*label >= model_.labels.size()) return fault("no label has the position " + std::string(t[2]));
            model_.support.push_back({*row, *position, *label});
            for (uint32_t f = 0; f < model_.features; ++f) {
                const std::optional<float> value = exact_float(t[3 + f]);
                if (!value) return fault("feature " + std::to_string(f + 1) + " is not a float");
                model_.support_features.push_back(*value);
            }
        }
        return std::nullopt;
    }

    Fault lists() {
        uint32_t count = 0;
        if (auto f = count_line("lists", count)) return f;
        if (count != recogniser_count(model_)) {
            return fault("the labels need " + std::to_string(recogniser_count(model_)) + " lists");
        }
        for (uint32_t i = 0; i < count; ++i) {
            std::vector<std::string_view> t;
            if (auto f = keyed("list", -1, t, "list LABEL COUNT ENTRIES")) return f;
            const uint32_t label = model_.rule == DecisionRule::by_sign ? 1 : i;
            const std::optional<uint32_t> entries = t.size() >= 2 ? whole_number<uint32_t>(t[1]) : std::nullopt;
            if (t.size() < 2 || whole_number<uint32_t>(t[0]) != label) {
                return fault("expected the list of label position " + std::to_string(label));
            }
            if (!entries || *entries != t.size() - 2) return fault("the count does not match the entries");
            model_.lists.emplace_back();
            for (std::size_t e = 2; e < t.size(); ++e) {
                const std::optional<int32_t> entry = whole_number<int32_t>(t[e]);
                if (!entry || *entry < 0) return fault("the entry '" + std::string(t[e]) + "' is not a row index");
                model_.lists.back().push_back(*entry);
            }
            if (Status checked = check_list_at(model_, i); !checked) return fault(checked.error().detail);
        }
        return std::nullopt;
    }

    Fault ending() {
        const std::optional<std::string_view> line = next();
        if (!line || *line != "end") return line ? fault("expected 'end'") : fault_in_file("ends early: no 'end'");
        if (at_ < text_.size()) {
            ++line_;
            return fault("text after 'end'");
        }
        return std::nullopt;
    }

    Error fault(const std::string& detail) const { return Error{ErrorKind::bad_data, detail, path_, line_, 0, {}}; }
    Error fault_in_file(const std::string& detail) const { return Error{ErrorKind::bad_data, detail, path_, 0, 0, {}}; }

    std::string_view text_;
    std::string path_;
    std::size_t at_ = 0;
    uint64_t line_ = 0;
    Model model_;
};

}  // namespace

std::string escaped_label(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

Result<std::string> model_text(const Model& model) {
    if (Status checked = check(model); !checked) return checked.error();
    return guarded<std::string>([&]() -> Result<std::string> {
        std::string ranges;
        if (model.ranges) ranges = ranges_text(*model.ranges).value();
        std::string text;
        append_header(text, model, ranges);
        append_body(text, model);
        return text;
    });
}

Result<Model> parse_model(std::string_view text, const std::string& path) {
    return guarded<Model>([&]() -> Result<Model> { return ModelReader(text, path).read(); }, path);
}

}  // namespace programma
