// Models: made from a training's lists, checked, scored from their support
// rows alone, and written and read as text.
#include "programma/model.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <set>

#include "diagnostics.h"
#include "mistake_file.h"
#include "model_check.h"
#include "perceptron_lib.h"
#include "safe_call.h"
#include "scoring.h"
#include "text_fields.h"

namespace programma {
namespace {

Error invalid(const std::string& field, const std::string& detail) {
    return Error{ErrorKind::invalid_argument, detail, {}, 0, 0, field};
}

// The recogniser answering a model's list i: label i's, or under by_sign the
// second label's.
uint32_t list_label(const Model& model, std::size_t list) {
    return model.rule == DecisionRule::by_sign ? 1 : uint32_t(list);
}

// Where a training row lies among the support rows, or support.size().
std::size_t support_of(const Model& model, int32_t row) {
    const auto found = std::lower_bound(model.support.begin(), model.support.end(), row,
                                        [](const SupportRow& s, int32_t r) { return int64_t(s.row) < r; });
    return found != model.support.end() && int64_t(found->row) == row ? std::size_t(found - model.support.begin())
                                                                      : model.support.size();
}

Status check_labels(const Model& model) {
    if (model.labels.size() < 2) return invalid("labels", "a model needs two labels or more");
    std::set<std::string> keys;
    for (const std::string& label : model.labels) {
        if (!valid_label(model.label_kind, label)) {
            return invalid("labels", "the label '" + label + "' is not of the labels' kind");
        }
        if (!keys.insert(label_key(model.label_kind, label)).second) {
            return invalid("labels", "the label '" + label + "' comes twice");
        }
    }
    if (model.rule == DecisionRule::by_sign && model.labels.size() != 2) {
        return invalid("rule", "answering by sign needs two labels, not " + std::to_string(model.labels.size()));
    }
    return Done{};
}

Status check_support(const Model& model) {
    if (model.features == 0) return invalid("features", "a model needs one feature or more");
    if (model.support_features.size() != model.support.size() * std::size_t(model.features)) {
        return invalid("support_features",
                       "the support rows need " + std::to_string(model.features) + " features each");
    }
    std::vector<uint32_t> positions;
    for (std::size_t s = 0; s < model.support.size(); ++s) {
        const SupportRow& row = model.support[s];
        const std::string which = "support row " + std::to_string(row.row);
        if (s > 0 && row.row <= model.support[s - 1].row)
            return invalid("support", which + " is not in ascending order");
        if (row.row >= model.training_rows || row.position >= model.training_rows) {
            return invalid("support",
                           which + " lies beyond the " + std::to_string(model.training_rows) + " training rows");
        }
        if (row.label >= model.labels.size()) return invalid("support", which + " has no label of the model's");
        positions.push_back(row.position);
    }
    std::sort(positions.begin(), positions.end());
    if (std::adjacent_find(positions.begin(), positions.end()) != positions.end()) {
        return invalid("support", "two support rows share their place in the training order");
    }
    return Done{};
}

// Each list entry's place in the training order, or the entry that is no
// support row.
Result<std::vector<int32_t>> steps_of_list(const Model& model, const std::vector<int32_t>& list) {
    std::vector<int32_t> steps;
    steps.reserve(list.size());
    for (const int32_t entry : list) {
        const std::size_t s = support_of(model, entry);
        if (s == model.support.size()) {
            return invalid("lists", "the list entry " + std::to_string(entry) + " is no support row");
        }
        steps.push_back(int32_t(model.support[s].position));
    }
    return steps;
}

Status check_lists(const Model& model) {
    if (model.lists.size() != recogniser_count(model)) {
        return invalid("lists", "the model's " + std::to_string(model.labels.size()) + " labels need " +
                                    std::to_string(recogniser_count(model)) + " lists, not " +
                                    std::to_string(model.lists.size()));
    }
    for (std::size_t i = 0; i < model.lists.size(); ++i) {
        if (Status checked = check_list_at(model, i); !checked) return checked;
    }
    return Done{};
}

// The recognisers scoring a model's support rows, whose labels are their
// label positions.
std::vector<Recogniser> support_recognisers(const Model& model) {
    std::vector<Recogniser> recognisers;
    for (std::size_t i = 0; i < recogniser_count(model); ++i) {
        recognisers.push_back({list_label(model, i), model.kernel, model.epochs, model.margin});
    }
    return recognisers;
}

}  // namespace

bool valid_label(LabelKind kind, const std::string& text) {
    switch (kind) {
        case LabelKind::integer: return whole_number<int64_t>(text).has_value();
        case LabelKind::real: {
            const std::optional<double> value = whole_number<double>(text);
            return value && std::isfinite(*value);
        }
        case LabelKind::text: return true;
    }
    return false;
}

std::string label_key(LabelKind kind, const std::string& text) {
    switch (kind) {
        case LabelKind::integer: return std::to_string(whole_number<int64_t>(text).value_or(0));
        case LabelKind::real: {
            const double value = whole_number<double>(text).value_or(0.0);
            char shortest[32];
            const auto written = std::to_chars(shortest, shortest + sizeof shortest, value == 0.0 ? 0.0 : value);
            return std::string(shortest, written.ptr);
        }
        case LabelKind::text: return text;
    }
    return text;
}

Status check_list_at(const Model& model, std::size_t i) {
    Result<std::vector<int32_t>> steps = steps_of_list(model, model.lists[i]);
    if (!steps) return steps.error();
    std::vector<uint64_t> weights;
    uint32_t needed = 0;
    if (!prefix_weights(steps.value().data(), uint32_t(steps.value().size()), model.training_rows, model.epochs,
                        weights, needed)) {
        return invalid("lists", "the list of label " + model.labels[list_label(model, i)] + " needs " +
                                    std::to_string(needed) + " epochs of training, more than the " +
                                    std::to_string(model.epochs) + " given");
    }
    return Done{};
}

std::size_t recogniser_count(const Model& model) {
    switch (model.rule) {
        case DecisionRule::per_label: return model.labels.size();
        case DecisionRule::by_sign: return 1;
    }
    return 0;
}

Status check(const Model& model) {
    if (Status checked = check(Recogniser{0, model.kernel, model.epochs, model.margin}); !checked) return checked;
    if (model.combine != Combine::last && model.combine != Combine::average && model.combine != Combine::vote) {
        return invalid("combine", "no combiner has the value " + std::to_string(int(model.combine)));
    }
    if (Status checked = check_labels(model); !checked) return checked;
    if (model.ranges) {
        if (Status checked = check(*model.ranges); !checked) return checked;
        if (model.ranges->features.size() > model.features) {
            return invalid("ranges", "the ranges name feature " + std::to_string(model.ranges->features.size()) +
                                         ", beyond the model's " + std::to_string(model.features));
        }
    }
    return guarded<Done>([&]() -> Status {
        if (Status checked = check_support(model); !checked) return checked;
        return check_lists(model);
    });
}

Result<Model> make_model(const ModelSource& source) {
    if (source.training == nullptr || source.training->rows() == 0) return invalid("training", "no training set");
    if (source.recognisers.empty() || source.lists.size() != source.recognisers.size()) {
        return invalid("lists", "one list is needed per recogniser");
    }
    const SampleSet& training = *source.training;
    const Recogniser& first = source.recognisers[0];
    const std::size_t expected_labels = source.rule == DecisionRule::by_sign ? 2 : source.recognisers.size();
    if (source.labels.size() != expected_labels || (source.rule == DecisionRule::by_sign && source.lists.size() != 1)) {
        return invalid("labels", "the labels do not match the recognisers");
    }
    for (const Recogniser& r : source.recognisers) {
        if (std::bit_cast<uint32_t>(r.kernel.parameter) != std::bit_cast<uint32_t>(first.kernel.parameter) ||
            r.kernel.kind != first.kernel.kind || r.epochs != first.epochs ||
            std::bit_cast<uint32_t>(r.margin) != std::bit_cast<uint32_t>(first.margin)) {
            return invalid("recognisers", "the recognisers of a model share their kernel, epochs and margin");
        }
    }
    if (!source.order.empty() && source.order.size() != training.rows()) {
        return invalid("order", "the order is not a permutation of the training rows");
    }
    return guarded<Model>([&]() -> Result<Model> {
        Model model{first.kernel,
                    first.epochs,
                    first.margin,
                    source.combine,
                    source.shuffle,
                    training.rows(),
                    training.features(),
                    source.label_kind,
                    source.labels,
                    source.rule,
                    source.ranges,
                    {},
                    {},
                    {}};
        std::vector<uint32_t> position(source.order.empty() ? 0 : training.rows());
        for (uint32_t p = 0; p < source.order.size(); ++p) position[source.order[p]] = p;
        std::vector<int32_t> rows;
        for (const std::vector<int32_t>& list : source.lists) {
            if (Status checked = check_list(list, training.rows(), "list"); !checked) {
                return invalid("lists", checked.error().message());
            }
            rows.insert(rows.end(), list.begin(), list.end());
        }
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (const int32_t row : rows) {
            const float label = training.label(uint32_t(row));
            uint32_t at = 0;
            if (source.rule == DecisionRule::by_sign) {
                at = label == float(first.target) ? 1 : 0;
            } else {
                while (at < source.recognisers.size() && label != float(source.recognisers[at].target)) ++at;
                if (at == source.recognisers.size()) {
                    return invalid("lists", "training row " + std::to_string(row) + " has no recogniser's label");
                }
            }
            model.support.push_back({uint32_t(row), position.empty() ? uint32_t(row) : position[uint32_t(row)], at});
            const float* values = training.row(uint32_t(row));
            model.support_features.insert(model.support_features.end(), values, values + model.features);
        }
        model.lists = source.lists;
        if (Status checked = check(model); !checked) return checked.error();
        return model;
    });
}

Result<std::vector<std::vector<double>>> model_scores(const Model& model, const SampleSet& samples,
                                                      const CancelFlag* cancel, const EngineOptions& options) {
    if (Status checked = check(model); !checked) return checked.error();
    if (samples.rows() == 0 || samples.features() != model.features) {
        return invalid("samples", "samples have " + std::to_string(samples.features()) + " features, the model's " +
                                      std::to_string(model.features));
    }
    return guarded<std::vector<std::vector<double>>>([&]() -> Result<std::vector<std::vector<double>>> {
        SampleSet scored = samples;
        if (model.ranges) {
            Result<SampleSet> scaled = apply_ranges(*model.ranges, samples);
            if (!scaled) return scaled.error();
            scored = std::move(scaled).value();
        }
        // The support rows as a training set of their own (a row of zeros,
        // which no list names, when there are none), labelled by position.
        const std::size_t count = std::max<std::size_t>(model.support.size(), 1);
        std::vector<float> values(model.support_features);
        values.resize(count * model.features, 0.0f);
        std::vector<float> labels(count, 0.0f);
        for (std::size_t s = 0; s < model.support.size(); ++s) labels[s] = float(model.support[s].label);
        Result<SampleSet> support = samples_from_memory(values.data(), labels.data(), count, model.features);
        if (!support) return support.error();
        std::vector<std::vector<int32_t>> lists, steps;
        // Each entry as its support row (checked above to be one) and that
        // row's place in the training order.
        for (const std::vector<int32_t>& list : model.lists) {
            lists.emplace_back();
            steps.emplace_back();
            for (const int32_t entry : list) {
                const std::size_t s = support_of(model, entry);
                lists.back().push_back(int32_t(s));
                steps.back().push_back(int32_t(model.support[s].position));
            }
        }
        Result<Scores> scores =
            scores_by_steps(support.value(), support_recognisers(model), lists, steps, model.training_rows, scored,
                            {{model.epochs, model.combine}}, cancel, options);
        if (!scores) return scores.error();
        std::vector<std::vector<double>> flat;
        for (std::vector<std::vector<double>>& cells : scores.value()) flat.push_back(std::move(cells[0]));
        return flat;
    });
}

std::vector<uint32_t> model_answers(const Model& model, const std::vector<std::vector<double>>& scores) {
    const std::size_t rows = scores.empty() ? 0 : scores[0].size();
    std::vector<uint32_t> answers(rows, 0);
    std::vector<double> row_scores(scores.size());
    for (std::size_t r = 0; r < rows; ++r) {
        switch (model.rule) {
            case DecisionRule::by_sign: answers[r] = scores[0][r] < 0.0 ? 0 : 1; break;
            case DecisionRule::per_label:
                for (std::size_t i = 0; i < scores.size(); ++i) row_scores[i] = scores[i][r];
                answers[r] = uint32_t(best_of(row_scores.data(), row_scores.size()));
                break;
        }
    }
    return answers;
}

std::vector<std::vector<double>> label_scores(const Model& model, const std::vector<std::vector<double>>& scores) {
    const std::size_t rows = scores.empty() ? 0 : scores[0].size();
    std::vector<std::vector<double>> by_row(rows);
    for (std::size_t r = 0; r < rows; ++r) {
        switch (model.rule) {
            case DecisionRule::by_sign: by_row[r] = {-scores[0][r], scores[0][r]}; break;
            case DecisionRule::per_label:
                for (const std::vector<double>& one : scores) by_row[r].push_back(one[r]);
                break;
        }
    }
    return by_row;
}

Status save_model(const std::string& path, const Model& model) {
    if (Status named = check_path(path); !named) return named.error();
    Result<std::string> text = model_text(model);
    if (!text) return text.error();
    DiagnosticCapture capture;
    if (!save_text(path.c_str(), text.value())) return capture.error();
    return Done{};
}

Result<Model> read_model(const std::string& path) {
    if (Status named = check_path(path); !named) return named.error();
    return guarded<Model>(
        [&]() -> Result<Model> {
            DiagnosticCapture capture;
            std::string text;
            if (!read_text_file(path.c_str(), text)) return capture.error();
            return parse_model(text, path);
        },
        path);
}

}  // namespace programma
