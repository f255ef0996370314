// `digit-tools classify`: its help, its options, and its run: every file
// checked first, the recognisers of the labels trained (or restored) and
// tested, the files asked for staged and then put in place, and only then
// the report.
#include <memory>

#include "classify.h"
#include "commands.h"
#include "lists_folder.h"
#include "model_files.h"
#include "output.h"
#include "samples.h"
#include "text.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools classify [-k pol|gauss] [-c X|scale] [-d X] [-e N] [-tr FILE] [-ts FILE]\n"
    "                            [--margin M] [--combine last|average|vote] [--shuffle SEED]\n"
    "                            [--ranges FILE] [--unlabelled] [--csv] [--predictions FILE]\n"
    "                            [--scores FILE] [--plot OUT.png] [--save-model FILE]\n"
    "                            [--lists DIR | --restore DIR] [--quiet]\n"
    "\n"
    "Trains programma's kernel perceptron for each label of the training set (the\n"
    "digits 0 to 9 in programma's data), each exactly as programma trains one for a\n"
    "digit (the same mistake list), and answers for every test row the label whose\n"
    "decision sum is the greatest (the smaller label on a tie or a NaN). Prints each\n"
    "label's mistakes and training error, the test error and the confusion table\n"
    "(rows: the true label, columns: the answer). Labels may be any whole numbers,\n"
    "two or more; a test row whose label the training set lacks is answered wrong.\n"
    "No trace is printed and standard input is not read.\n"
    "\n"
    "  -k, -c, -d, -e, -tr, -ts  as programma's options, with its defaults\n"
    "  -c scale            the gaussian constant from the training data: the features\n"
    "                      times the variance of every feature value\n"
    "  --margin M          a row also joins its label's list when answered right but\n"
    "                      too closely: label * sum below M times the row's kernel\n"
    "                      value with itself (M finite, 0 or more; default 0: the\n"
    "                      mistakes alone, programma's lists); a margin above 0 is\n"
    "                      named in the report and recorded in the lists' manifest\n"
    "  --combine HOW       how each label's list answers: last (the whole list's\n"
    "                      decision sum, programma's answer; the default), vote (every\n"
    "                      hypothesis training went through votes, weighted by the\n"
    "                      training steps it survived) or average (their decision sums\n"
    "                      so weighted); restored lists must need at most -e epochs\n"
    "  --shuffle SEED      train on the rows in a seeded order (the same in every epoch)\n"
    "                      instead of file order; the lists still name rows by their\n"
    "                      place in the file\n"
    "  --ranges FILE       map the training and test rows' features by ranges saved\n"
    "                      with scale --save-ranges, before anything else\n"
    "  --unlabelled        test rows hold features only: write the answers, no error\n"
    "  --csv               print one CSV table: a row per true label, then an 'all' row\n"
    "  --predictions FILE  write one answer (a label) per test row, in the test set's order\n"
    "  --scores FILE       write every test row's score for each label: CSV, a header\n"
    "                      of the labels, then a line a row (each score by %.17g)\n"
    "  --plot FILE         draw the confusion table as a heat map (PNG)\n"
    "  --save-model FILE   save the trained recognisers as one model file for predict:\n"
    "                      the settings, labels, ranges, support rows and lists\n"
    "  --lists DIR         save each label's mistake list as DIR/LABEL.list, and their\n"
    "                      settings, training set, labels and hashes in DIR/manifest\n"
    "  --restore DIR       read the lists back from DIR instead of training, with the\n"
    "                      settings DIR/manifest records (each list as it recorded it)\n"
    "  --quiet             no progress on standard error (shown only at a terminal)\n"
    "Every output is checked before the work and replaced only once wholly written.\n"
    "A warning goes to standard error when, without -c, the training features reach\n"
    "beyond [-1, 1], and when, without --shuffle, the training rows come in long runs\n"
    "of one label.\n"
    "The voted method is not offered: on images with a -1 background (the shipped\n"
    "data) its vote gives the same answer for every sample.\n";

// programma's own options, read by programma's own rules.
ClassifyOptions parse_classify(Arguments& args) {
    ClassifyOptions options;
    bool restore_or_lists = false;
    while (!args.done()) {
        const std::string arg = args.take_option();
        if (arg == "--csv") {
            options.csv = true;
        } else if (arg == "--unlabelled") {
            options.unlabelled = true;
        } else if (arg == "--combine") {
            options.combine = combine_value(args.value_of(arg));
        } else if (arg == "--margin") {
            options.margin = margin_value(arg, args.value_of(arg));
        } else if (arg == "--predictions") {
            options.predictions = args.path_of(arg);
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else if (arg == "--scores") {
            options.scores = args.path_of(arg);
        } else if (arg == "--save-model") {
            options.save_model = args.path_of(arg);
        } else if (arg == "--ranges") {
            options.ranges = args.path_of(arg);
        } else if (arg == "--lists" || arg == "--restore") {
            if (restore_or_lists) throw std::invalid_argument("give --lists or --restore once, not both");
            restore_or_lists = true;
            (arg == "--lists" ? options.lists : options.restore) = args.path_of(arg);
        } else if (arg == "-tr" || arg == "-ts") {
            (arg == "-tr" ? options.training_set : options.test_set) = args.path_of(arg);
        } else if (arg == "-k") {
            options.kind = kernel_value(arg, args.value_of(arg));
        } else if (arg == "-c") {
            options.constant = constant_value(arg, args.value_of(arg));
        } else if (arg == "-d") {
            options.degree = parameter_value(arg, args.value_of(arg));
        } else if (arg == "--shuffle") {
            options.shuffle = seed_value(arg, args.value_of(arg));
        } else if (arg == "--quiet") {
            set_quiet();
        } else if (arg == "-e") {
            options.epochs = epochs_value(arg, args.value_of(arg));
        } else {
            args.refuse(arg);
        }
    }
    if (options.unlabelled && options.predictions.empty() && options.scores.empty() && options.save_model.empty()) {
        throw std::invalid_argument(
            "--unlabelled needs --predictions, --scores or --save-model: the files are all it gives");
    }
    if (!options.restore.empty() && options.constant && options.constant->from_data) {
        throw std::invalid_argument("--restore takes the constant its manifest records, not -c scale");
    }
    if (options.unlabelled && !options.plot.empty()) {
        throw std::invalid_argument("--unlabelled has no confusion table to --plot");
    }
    return options;
}

// Lists and manifests are read once, as whole files.
constexpr const char* kWholeFile = "lists and manifests are read as whole files, so give a file, not a stream";

// The outputs of --lists, checked once the training set's labels are known
// (and before any training): a list for each label, then the manifest.
std::vector<OutputTarget> list_targets(RunFiles& files, const std::string& folder, const Labels& labels) {
    std::vector<OutputTarget> targets;
    for (const float label : labels) targets.push_back(files.output(list_path(folder, label), Takes::file_only));
    targets.push_back(files.output(manifest_path(folder), Takes::file_only));
    return targets;
}

void stage(std::vector<std::unique_ptr<StagedFile>>& staged, const OutputTarget& target, std::string_view bytes) {
    if (target.destination != Destination::file) return;
    staged.push_back(std::make_unique<StagedFile>(target));
    staged.back()->write(bytes);
}

// The restore's manifest (none for programma's lists), whose settings the
// run takes; the manifest and every list the run may read are its inputs.
std::optional<Manifest> restored_manifest(ClassifyOptions& options, RunFiles& files) {
    files.regular_input(manifest_path(options.restore), kWholeFile);
    std::optional<Manifest> manifest = read_manifest(options.restore);
    if (manifest) adopt_manifest(options, *manifest, manifest_path(options.restore));
    for (const float label : manifest ? manifest->labels : digit_labels()) {
        files.regular_input(list_path(options.restore, label), kWholeFile);
    }
    return manifest;
}

// The outputs asked for, checked before any work.
struct Outputs {
    std::vector<OutputTarget> lists;  // with the manifest last; known once the labels are
    std::optional<OutputTarget> predictions;
    std::optional<OutputTarget> plot;
    std::optional<OutputTarget> scores;
    std::optional<OutputTarget> model;
};

std::optional<OutputTarget> output_of(RunFiles& files, const std::string& path) {
    return path.empty() ? std::nullopt : std::optional(files.output(path));
}

// Every output staged, then all put in place together.
void write_outputs(const Outputs& outputs, const ClassifyOptions& options, const ClassifyResult& result,
                   const VouchedFile* training) {
    std::vector<std::unique_ptr<StagedFile>> staged;
    if (!outputs.lists.empty())
        stage_lists(outputs.lists, result.lists, manifest_of(options, result, *training), staged);
    if (outputs.predictions) stage(staged, *outputs.predictions, answers_text(result));
    if (outputs.scores) stage(staged, *outputs.scores, scores_csv(label_texts(result.labels), by_row(result.scores)));
    if (outputs.model) stage(staged, *outputs.model, programma::value_or_throw(programma::model_text(*result.model)));
    if (outputs.plot) {
        if (auto picture = draw_with_gnuplot(heat_map_script(confusion_map(result, options)), *outputs.plot)) {
            staged.push_back(std::move(picture));
        }
    }
    commit_all(staged);
}

int run(Arguments& args) {
    ClassifyOptions options = parse_classify(args);
    RunFiles files;
    files.sample_set(options.training_set);
    files.sample_set(options.test_set);
    if (!options.ranges.empty()) files.input(options.ranges);
    const bool restoring = !options.restore.empty(), listing = !options.lists.empty();
    std::optional<ListsFolder> folder;
    if (restoring || listing) {
        folder.emplace(restoring ? options.restore : options.lists,
                       restoring ? ListsFolder::Use::read : ListsFolder::Use::write);
    }
    const std::optional<Manifest> manifest = restoring ? restored_manifest(options, files) : std::nullopt;
    Outputs outputs{{},
                    output_of(files, options.predictions),
                    plot_target(files, options.plot),
                    output_of(files, options.scores),
                    output_of(files, options.save_model)};
    files.report_to_standard_output();
    // The training set's hash vouches for the bytes the lists are trained
    // on (or restored against): taken before loading, and the file must be
    // the same once the work is done.
    const std::optional<VouchedFile> training = folder ? std::optional(vouch_for(options.training_set)) : std::nullopt;
    const ClassifyResult result =
        classify(options, training ? &*training : nullptr, {options.restore, manifest ? &*manifest : nullptr},
                 [&](const Labels& labels) {
                     if (listing) outputs.lists = list_targets(files, options.lists, labels);
                 });
    if (training) require_unchanged(*training);
    write_outputs(outputs, options, result, training ? &*training : nullptr);
    if (folder) folder->keep();
    print(classify_report(result, options.csv));
    return kExitDone;
}

}  // namespace

const Command kClassifyCommand = {
    "classify", "recognise which label (digit) each test sample has, with a recogniser for each label", kHelp, run};
