// Models made of label recognisers, the scores table, saved ranges and the
// test tally that classify and predict print.
#include "model_files.h"

#include <algorithm>
#include <numeric>

#include "samples.h"

programma::Model label_model(const LabelTraining& training) {
    programma::ModelSource source;
    source.training = &training.made->training;
    source.recognisers = training.made->recognisers;
    source.lists = *training.lists;
    source.order = *training.order;
    source.shuffle = training.shuffle;
    source.combine = training.combine;
    source.label_kind = programma::LabelKind::integer;
    source.labels = label_texts(*training.labels);
    source.rule = programma::DecisionRule::per_label;
    source.ranges = training.ranges;
    return programma::value_or_throw(programma::make_model(source));
}

std::string scores_csv(const std::vector<std::string>& labels, const std::vector<std::vector<double>>& by_row) {
    std::string text;
    const auto add = [&](std::size_t i, const std::string& field) {
        if (i > 0) text += ',';
        text += field;
    };
    for (std::size_t i = 0; i < labels.size(); ++i) add(i, csv_field(labels[i]));
    text += '\n';
    for (const std::vector<double>& row : by_row) {
        for (std::size_t i = 0; i < row.size(); ++i) add(i, printed("%.17g", row[i]));
        text += '\n';
    }
    return text;
}

std::vector<std::vector<double>> by_row(const std::vector<std::vector<double>>& by_label) {
    const std::size_t rows = by_label.empty() ? 0 : by_label[0].size();
    std::vector<std::vector<double>> turned(rows, std::vector<double>(by_label.size()));
    for (std::size_t label = 0; label < by_label.size(); ++label) {
        for (std::size_t r = 0; r < rows; ++r) turned[r][label] = by_label[label][r];
    }
    return turned;
}

std::vector<std::string> label_texts(const Labels& labels) {
    std::vector<std::string> texts;
    for (const float label : labels) texts.push_back(label_text(label));
    return texts;
}

programma::FeatureRanges saved_ranges(const std::string& path, uint32_t features, const std::string& rows_file) {
    programma::FeatureRanges ranges = value_for(programma::read_ranges(path), path);
    if (ranges.features.size() > features) {
        fail_in(path, "names feature " + std::to_string(ranges.features.size()) + ", and the rows of " + rows_file +
                          " have " + std::to_string(features) + " features");
    }
    return ranges;
}

programma::SampleSet scaled_rows(const programma::FeatureRanges& ranges, const programma::SampleSet& rows,
                                 const std::string& rows_file) {
    return value_for(programma::apply_ranges(ranges, rows), rows_file);
}

const char* tally_noun(const TestTally& tally) {
    const auto digit = [](const std::string& text) { return text.size() == 1 && text[0] >= '0' && text[0] <= '9'; };
    return std::all_of(tally.truths.begin(), tally.truths.end(), digit) ? "digit" : "label";
}

std::string tally_markdown(const TestTally& tally) {
    const std::string count = tally.answers.size() == 10 ? "Ten" : std::to_string(tally.answers.size());
    TableRows confusion = {{"true " + std::string(tally_noun(tally)) + " \\ answer"}};
    confusion[0].insert(confusion[0].end(), tally.answers.begin(), tally.answers.end());
    for (std::size_t truth = 0; truth < tally.truths.size(); ++truth) {
        confusion.push_back({tally.truths[truth]});
        for (const uint32_t count_here : tally.rows[truth]) confusion.back().push_back(std::to_string(count_here));
    }
    return count + "-class test error: " + std::to_string(tally.wrong) + " wrong of " + std::to_string(tally.tested) +
           " rows, " + percent_of(tally.wrong, tally.tested) + "%\n\n" + format_table(confusion, false);
}

TableRows tally_csv(const TestTally& tally) {
    TableRows table = {{"test_rows", "test_wrong", "test_error_percent"}};
    for (const std::string& label : tally.answers) table[0].push_back("answered_" + label);
    std::vector<uint32_t> answered(tally.answers.size(), 0);
    for (std::size_t truth = 0; truth < tally.truths.size(); ++truth) {
        const std::vector<uint32_t>& answers = tally.rows[truth];
        const uint32_t rows = std::accumulate(answers.begin(), answers.end(), 0u);
        const std::size_t own =
            std::find(tally.answers.begin(), tally.answers.end(), tally.truths[truth]) - tally.answers.begin();
        const uint32_t wrong = rows - (own < answers.size() ? answers[own] : 0);
        table.push_back({std::to_string(rows), std::to_string(wrong), percent_of(wrong, rows)});
        for (std::size_t a = 0; a < answers.size(); ++a) {
            table.back().push_back(std::to_string(answers[a]));
            answered[a] += answers[a];
        }
    }
    table.push_back({std::to_string(tally.tested), std::to_string(tally.wrong), percent_of(tally.wrong, tally.tested)});
    for (const uint32_t count : answered) table.back().push_back(std::to_string(count));
    return table;
}
