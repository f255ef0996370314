// Models: scores from a model's support rows against the same lists scored
// on the whole training set, bit for bit, over kernels, margins, combiners,
// orders, rules and ranges; the text as a fixed point; and every kind of
// damage refused with its line.
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <random>
#include <string>

#include "programma/model.h"
#include "support.h"

namespace {

using programma::Combine;
using programma::DecisionRule;
using programma::KernelKind;
using programma::Model;
using programma::SampleSet;

// Rows around a few clusters, labelled 0..3, with raw values far beyond [-1, 1].
SampleSet clustered(uint32_t rows, uint32_t features, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> values, labels;
    for (uint32_t r = 0; r < rows; ++r) {
        const uint32_t label = random() % 4;
        for (uint32_t f = 0; f < features; ++f) values.push_back(40.0f * (float(label) + noise(random)) + 3.0f * f);
        labels.push_back(float(label));
    }
    return programma::samples_from_memory(values.data(), labels.data(), rows, features).value();
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::bit_cast<uint64_t>(a[i]) != std::bit_cast<uint64_t>(b[i])) return false;
    }
    return true;
}

struct Setting {
    KernelKind kind;
    float parameter;
    float margin;
    Combine combine;
    bool shuffled;
    DecisionRule rule;
    bool scaled;
};

// A trained model of `setting`, and the scores the training set gives its
// lists, for the test rows.
struct TrainedModel {
    Model model;
    std::vector<std::vector<double>> scores;
};

TrainedModel train_model(const Setting& s, const SampleSet& raw_training, const SampleSet& raw_test) {
    std::optional<programma::FeatureRanges> ranges;
    SampleSet training = raw_training, test = raw_test;
    if (s.scaled) {
        ranges = programma::feature_ranges(raw_training).value();
        training = programma::apply_ranges(*ranges, raw_training).value();
        test = programma::apply_ranges(*ranges, raw_test).value();
    }
    const std::optional<uint64_t> seed = s.shuffled ? std::optional<uint64_t>(11) : std::nullopt;
    const std::vector<uint32_t> order =
        seed ? programma::seeded_order(training.rows(), *seed) : std::vector<uint32_t>{};
    const programma::KernelSpec kernel{s.kind, s.parameter};
    std::vector<programma::Recogniser> recognisers;
    std::vector<std::string> labels = {"-5", "10", "20", "300"};
    if (s.rule == DecisionRule::by_sign) {
        recognisers.push_back({2, kernel, 3, s.margin});
        labels = {"other", "two"};
    } else {
        for (uint32_t t = 0; t < 4; ++t) recognisers.push_back({t, kernel, 3, s.margin});
    }
    std::vector<std::vector<int32_t>> lists;
    const auto trained_lists = programma::train(training, recognisers, nullptr, {}, {}, order);
    for (const programma::Trained& one : trained_lists.value()) lists.push_back(one.mistakes);
    TrainedModel trained;
    for (std::size_t i = 0; i < recognisers.size(); ++i) {
        trained.scores.push_back(
            programma::decision_scores(training, recognisers[i], lists[i], test, s.combine, nullptr, {}, order)
                .value());
    }
    const auto kind = s.rule == DecisionRule::by_sign ? programma::LabelKind::text : programma::LabelKind::integer;
    trained.model =
        programma::make_model({&training, recognisers, lists, order, seed, s.combine, kind, labels, s.rule, ranges})
            .value();
    return trained;
}

TEST(Model, ScoresFromTheSupportRowsAreTheTrainingSetsBitForBit) {
    const SampleSet training = clustered(160, 5, 1), test = clustered(40, 5, 2);
    const Setting settings[] = {
        {KernelKind::gaussian, 2.0f, 0.0f, Combine::last, false, DecisionRule::per_label, true},
        {KernelKind::gaussian, 0.5f, 1.0f, Combine::average, true, DecisionRule::per_label, true},
        {KernelKind::gaussian, 1.0f, 0.5f, Combine::vote, true, DecisionRule::by_sign, true},
        {KernelKind::polynomial, 2.0f, 0.0f, Combine::average, false, DecisionRule::by_sign, false},
        {KernelKind::polynomial, 3.0f, 0.25f, Combine::last, true, DecisionRule::per_label, true},
    };
    for (const Setting& s : settings) {
        const TrainedModel trained = train_model(s, training, test);
        const std::string text = programma::model_text(trained.model).value();
        const Model read = programma::parse_model(text, "m").value();
        EXPECT_EQ(programma::model_text(read).value(), text) << "writing what was read gives the same text";
        const auto scores = programma::model_scores(read, test).value();  // raw rows: the model scales them
        ASSERT_EQ(scores.size(), trained.scores.size());
        for (std::size_t i = 0; i < scores.size(); ++i) {
            EXPECT_TRUE(same_bits(scores[i], trained.scores[i])) << text.substr(0, 120) << " list " << i;
        }
        const auto answers = programma::model_answers(read, scores);
        const auto by_label = programma::label_scores(read, scores);
        for (std::size_t r = 0; r < answers.size(); ++r) {
            const auto& row = by_label[r];
            EXPECT_EQ(answers[r], programma::best_of(row.data(), row.size())) << "the best label score answers";
        }
        EXPECT_LT(read.support.size(), training.rows()) << "only the rows some list holds";
    }
}

// A small valid model's text: two labels, one feature, no ranges.
const std::string kGood =
    "programma-model 1\nkernel gauss 2\nepochs 2\nmargin 0\ncombine last\nshuffle none\ntraining-rows 4\n"
    "features 1\nlabels integer 2\nlabel 3\nlabel 8\nrule per-label\nranges none\nsupport 2\n0 0 0 0.5\n"
    "2 2 1 -1.25\nlists 2\nlist 0 1 0\nlist 1 2 2 0\nend\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
}

TEST(Model, DamageIsRefusedWithItsLine) {
    ASSERT_TRUE(programma::parse_model(kGood, "m").ok());
    const struct {
        std::string text;
        uint64_t line;
        const char* says;
    } cases[] = {
        {"", 0, "not a model"},
        {replaced(kGood, "model 1", "model 2"), 1, "another version"},
        {kGood.substr(0, kGood.find("support")), 0, "ends early"},
        {kGood.substr(0, kGood.size() - 4), 0, "no 'end'"},
        {kGood.substr(0, kGood.find("ranges")) + "ranges 1", 0, "ends early"},
        {kGood + "more\n", 21, "text after 'end'"},
        {replaced(kGood, "gauss 2", "gauss -2"), 2, "above 0"},
        {replaced(kGood, "gauss 2", "gauss 2x"), 2, "not a float"},
        {replaced(kGood, "gauss 2", "rbf 2"), 2, "no kernel"},
        {replaced(kGood, "epochs 2", "epochs 1"), 19, "needs 2 epochs"},
        {replaced(kGood, "margin 0", "margin nan"), 4, "margin"},
        {replaced(kGood, "combine last", "combine max"), 5, "no combiner"},
        {replaced(kGood, "shuffle none", "shuffle -1"), 6, "seed"},
        {replaced(kGood, "training-rows 4", "training-rows 2"), 16, "beyond the training rows"},
        {replaced(kGood, "labels integer 2", "labels integer 3"), 12, "expected 'label TEXT'"},
        {replaced(kGood, "label 8", "label 03"), 11, "comes twice"},
        {replaced(replaced(kGood, "integer", "real"), "label 8", "label 3.0"), 11, "comes twice"},
        {replaced(kGood, "label 8", "label 8.5"), 11, "not a whole number"},
        {replaced(kGood, "rule per-label", "rule by-sign"), 17, "labels need 1 lists"},
        {replaced(kGood, "ranges none", "ranges 2\nx\n1 -1"), 15, "lower bound must be below"},
        {replaced(kGood, "support 2", "support 3"), 17, "expected ROW POSITION LABEL"},
        {replaced(kGood, "2 2 1 -1.25", "2 2 1 1e99"), 16, "feature 1 is not a float"},
        {replaced(kGood, "2 2 1 -1.25", "2 0 1 3"), 16, "another row has this position"},
        {replaced(kGood, "2 2 1 -1.25", "2 2 2 3"), 16, "no label has the position 2"},
        {replaced(kGood, "0 0 0 0.5\n", "0 0 0 0.5 7\n"), 15, "expected ROW POSITION LABEL"},
        {replaced(kGood, "lists 2", "lists 1"), 17, "need 2 lists"},
        {replaced(kGood, "list 1 2 2 0", "list 1 3 2 0"), 19, "count does not match"},
        {replaced(kGood, "list 1 2 2 0", "list 1 2 2 1"), 19, "entry 1 is no support row"},
        {replaced(kGood, "list 0 1 0", "list 1 1 0"), 18, "label position 0"},
    };
    for (const auto& c : cases) {
        const auto parsed = programma::parse_model(c.text, "m");
        ASSERT_FALSE(parsed.ok()) << c.says;
        EXPECT_EQ(parsed.error().kind, programma::ErrorKind::bad_data) << c.says;
        EXPECT_EQ(parsed.error().line, c.line) << parsed.error().message();
        EXPECT_NE(parsed.error().message().find(c.says), std::string::npos) << parsed.error().message();
    }
}

TEST(Model, SavedAndReadThroughAFileWithLabelsOfAnyText) {
    Model model = programma::parse_model(kGood, "m").value();
    model.label_kind = programma::LabelKind::text;
    model.labels = {"a b\\", "line\nbreak\r"};
    const std::string path = testing::TempDir() + "model_test.model";
    ASSERT_TRUE(programma::save_model(path, model).ok());
    const Model read = programma::read_model(path).value();
    EXPECT_EQ(read.labels, model.labels);
    EXPECT_EQ(programma::model_text(read).value(), programma::model_text(model).value());
    std::remove(path.c_str());
    const auto missing = programma::read_model(path);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().kind, programma::ErrorKind::input_output);
    model.lists[0] = {1};  // not a support row
    EXPECT_EQ(programma::save_model(path, model).error().field, "lists");
}

}  // namespace
