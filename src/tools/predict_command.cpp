// `digit-tools predict`: its help, its options, and its run: the files
// checked first, the model read and applied, the files asked for staged and
// put in place, and only then the report.
#include <memory>

#include "commands.h"
#include "output.h"
#include "predict.h"
#include "text.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools predict MODEL TEST [--unlabelled] [--ranges FILE] [--csv]\n"
    "                           [--predictions FILE] [--scores FILE] [--quiet]\n"
    "\n"
    "Answers the rows of TEST with a model saved by classify or tune --save-model\n"
    "(or by the Python package), with no training set: the answers and scores of\n"
    "the run that made the model, bit for bit. Prints, for labelled rows, what\n"
    "classify prints about its test set: the test error and the confusion table\n"
    "(rows: the true label, columns: the answer). A test label counts as the\n"
    "model's label of the same value (of the same text for a model of text labels);\n"
    "one the model lacks is answered wrong. A model that holds ranges maps the rows\n"
    "by them itself.\n"
    "\n"
    "  --unlabelled        TEST holds features only: write the answers (--predictions\n"
    "                      or --scores) and print how many rows were answered\n"
    "  --ranges FILE       map the rows by ranges saved with scale --save-ranges first,\n"
    "                      for a model that holds none (refused for one that does)\n"
    "  --csv               print one CSV table: a row per true label, then an 'all' row\n"
    "  --predictions FILE  write one answer (a label) per row, in TEST's order\n"
    "  --scores FILE       write every row's score for each label: CSV, a header of the\n"
    "                      labels, then a line a row (each score by %.17g)\n"
    "  --quiet             no progress on standard error (shown only at a terminal)\n"
    "Every output is checked before the work and replaced only once wholly written;\n"
    "a damaged model is refused with its line, and nothing is written.\n";

PredictOptions parse_predict(Arguments& args) {
    PredictOptions options;
    std::vector<std::string> files;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (arg == "--unlabelled") {
            options.unlabelled = true;
        } else if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--ranges") {
            options.ranges = args.path_of(arg);
        } else if (arg == "--predictions") {
            options.predictions = args.path_of(arg);
        } else if (arg == "--scores") {
            options.scores = args.path_of(arg);
        } else if (arg == "--quiet") {
            set_quiet();
        } else if (arg.size() > 1 && arg[0] == '-') {
            args.refuse(arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2 || files[0].empty() || files[1].empty()) {
        throw std::invalid_argument("give the model and the rows to answer: MODEL TEST");
    }
    options.model = files[0];
    options.test = files[1];
    if (options.unlabelled && options.predictions.empty() && options.scores.empty()) {
        throw std::invalid_argument("--unlabelled needs --predictions or --scores: the files are all it gives");
    }
    return options;
}

std::optional<OutputTarget> output_of(RunFiles& files, const std::string& path) {
    return path.empty() ? std::nullopt : std::optional(files.output(path));
}

int run(Arguments& args) {
    const PredictOptions options = parse_predict(args);
    RunFiles files;
    files.input(options.model);
    files.sample_set(options.test);
    if (!options.ranges.empty()) files.input(options.ranges);
    const std::optional<OutputTarget> predictions = output_of(files, options.predictions);
    const std::optional<OutputTarget> scores = output_of(files, options.scores);
    files.report_to_standard_output();
    const Prediction prediction = predict(options);
    std::vector<std::unique_ptr<StagedFile>> staged;
    if (predictions) stage_output(staged, *predictions, prediction_text(prediction));
    if (scores) stage_output(staged, *scores, scores_csv(prediction.model.labels, prediction.label_scores));
    commit_all(staged);
    print(prediction_report(prediction, options.csv));
    return kExitDone;
}

}  // namespace

const Command kPredictCommand = {"predict", "answer new rows with a saved model, without the training set", kHelp, run};
