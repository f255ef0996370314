// `digit-tools classify`: its help, its options, and its run: every file
// checked first, the ten recognisers trained (or restored) and tested, the
// files asked for staged and then put in place, and only then the report.
#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <memory>

#include "classify.h"
#include "commands.h"
#include "output.h"
#include "samples.h"
#include "text.h"

namespace {

constexpr std::string_view kHelp =
    "Usage: digit-tools classify [-k pol|gauss] [-c X] [-d X] [-e N] [-tr FILE] [-ts FILE]\n"
    "                            [--csv] [--predictions FILE] [--plot OUT.png]\n"
    "                            [--lists DIR | --restore DIR] [--unlabelled]\n"
    "                            [--combine last|average|vote]\n"
    "\n"
    "Trains programma's kernel perceptron for each digit 0 to 9, each exactly as\n"
    "programma trains it (the same mistake list), and answers for every test row the\n"
    "digit whose decision sum is the greatest (the smaller digit on a tie or a NaN).\n"
    "Prints each digit's mistakes and training error, the ten-class test error and\n"
    "the confusion table (rows: the true digit, columns: the answer). Labels must be\n"
    "whole numbers from 0 to 9. No trace is printed and standard input is not read.\n"
    "\n"
    "  -k, -c, -d, -e, -tr, -ts  as programma's options, with its defaults\n"
    "  --csv               print one CSV table: a row per true digit, then an 'all' row\n"
    "  --unlabelled        test rows hold features only: write the answers, no error\n"
    "  --predictions FILE  write one answer (a digit) per test row, in the test set's order\n"
    "  --plot FILE         draw the confusion table as a heat map (PNG)\n"
    "  --lists DIR         save the ten mistake lists as DIR/0.list ... DIR/9.list,\n"
    "                      and their settings and training set in DIR/manifest\n"
    "  --restore DIR       read the ten lists back from DIR instead of training,\n"
    "                      with the settings DIR/manifest records\n"
    "  --combine HOW       how each digit's list answers: last (the whole list's\n"
    "                      decision sum, programma's answer; the default), vote (every\n"
    "                      hypothesis training went through votes, weighted by the\n"
    "                      training steps it survived) or average (their decision sums\n"
    "                      so weighted); restored lists must need at most -e epochs\n"
    "Every output is checked before the work and replaced only once wholly written.\n"
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
        } else if (arg == "--predictions") {
            options.predictions = args.path_of(arg);
        } else if (arg == "--plot") {
            options.plot = args.path_of(arg);
        } else if (arg == "--lists" || arg == "--restore") {
            if (restore_or_lists) throw std::invalid_argument("give --lists or --restore once, not both");
            restore_or_lists = true;
            (arg == "--lists" ? options.lists : options.restore) = args.path_of(arg);
        } else if (arg == "-tr" || arg == "-ts") {
            (arg == "-tr" ? options.training_set : options.test_set) = args.path_of(arg);
        } else if (arg == "-k") {
            options.kind = kernel_value(arg, args.value_of(arg));
        } else if (arg == "-c" || arg == "-d") {
            (arg == "-c" ? options.constant : options.degree) = parameter_value(arg, args.value_of(arg));
        } else if (arg == "-e") {
            options.epochs = epochs_value(arg, args.value_of(arg));
        } else {
            args.refuse(arg);
        }
    }
    if (options.unlabelled && options.predictions.empty()) {
        throw std::invalid_argument("--unlabelled needs --predictions FILE: the answers are all it gives");
    }
    if (options.unlabelled && !options.plot.empty()) {
        throw std::invalid_argument("--unlabelled has no confusion table to --plot");
    }
    return options;
}

// The settings and the training set a restore must match.
std::optional<Manifest> read_manifest(const std::string& folder) {
    const std::string path = manifest_path(folder);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return std::nullopt;  // lists saved by programma
    std::string problem;
    std::optional<Manifest> manifest = parse_manifest(read_whole_file(path), problem);
    if (!manifest) fail_in(path, "is not a lists manifest: " + problem);
    return manifest;
}

std::string answers_text(const ClassifyResult& result) {
    std::string text;
    for (uint8_t answer : result.answers) {
        text += char('0' + answer);
        text += '\n';
    }
    return text;
}

// The folder of --lists, made before the work and removed again (when still
// empty) if the run fails.
class FolderMade {
public:
    explicit FolderMade(const std::string& path) : path_(path) {
        made_ = ::mkdir(path.c_str(), 0777) == 0;
        struct stat info {};
        if (!made_ && errno != EEXIST) fail_in(path, std::string("cannot make the folder: ") + std::strerror(errno));
        if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) fail_in(path, "is not a folder");
    }
    ~FolderMade() {
        if (made_) ::rmdir(path_.c_str());
    }
    FolderMade(const FolderMade&) = delete;
    FolderMade& operator=(const FolderMade&) = delete;
    void keep() { made_ = false; }

private:
    std::string path_;
    bool made_ = false;
};

void stage(std::vector<std::unique_ptr<StagedFile>>& staged, const OutputTarget& target, std::string_view bytes) {
    if (target.destination != Destination::file) return;
    staged.push_back(std::make_unique<StagedFile>(target));
    staged.back()->write(bytes);
}

Manifest saved_manifest(const ClassifyOptions& options, const ClassifyResult& result) {
    return Manifest{options.kernel(), options.epoch_count(), result.training_rows, result.training_columns,
                    file_hash(options.training_set)};
}

// Every list and the manifest in temporary files first, so that a failure
// leaves every old list in place.
void stage_lists(const std::vector<OutputTarget>& targets, const ClassifyResult& result, const Manifest& manifest,
                 std::vector<std::unique_ptr<StagedFile>>& staged) {
    for (uint32_t d = 0; d < 10; ++d) {
        if (targets[d].destination != Destination::file) continue;
        staged.push_back(std::make_unique<StagedFile>(targets[d]));
        staged.back()->close_written();
        const programma::Status saved = programma::save_list(staged.back()->temporary(), result.lists[d]);
        if (!saved) {
            // The staged file's faults are its target's: the target's name is shown.
            programma::Error error = saved.error();
            if (error.path == staged.back()->temporary()) error.path = targets[d].shown;
            throw std::runtime_error(error.message());
        }
    }
    stage(staged, targets[10], format_manifest(manifest));
}

int run(Arguments& args) {
    ClassifyOptions options = parse_classify(args);
    RunFiles files;
    files.sample_set(options.training_set);
    files.sample_set(options.test_set);
    std::optional<Manifest> manifest;
    if (!options.restore.empty()) {
        for (uint32_t d = 0; d < 10; ++d) files.input(list_path(options.restore, d));
        files.input(manifest_path(options.restore));
        manifest = read_manifest(options.restore);
        if (manifest) adopt_manifest(options, *manifest, manifest_path(options.restore));
    }
    std::optional<FolderMade> folder;
    std::vector<OutputTarget> list_targets;
    if (!options.lists.empty()) {
        folder.emplace(options.lists);
        for (uint32_t d = 0; d < 10; ++d) list_targets.push_back(files.output(list_path(options.lists, d)));
        list_targets.push_back(files.output(manifest_path(options.lists)));
    }
    const std::optional<OutputTarget> predictions =
        options.predictions.empty() ? std::nullopt : std::optional(files.output(options.predictions));
    const std::optional<OutputTarget> plot = plot_target(files, options.plot);

    const ClassifyResult result = classify_digits(options, manifest ? &*manifest : nullptr);
    std::vector<std::unique_ptr<StagedFile>> staged;
    if (!list_targets.empty()) stage_lists(list_targets, result, saved_manifest(options, result), staged);
    if (predictions) stage(staged, *predictions, answers_text(result));
    if (plot) {
        if (auto picture = draw_with_gnuplot(heat_map_script(confusion_map(result.confusion, options)), *plot)) {
            staged.push_back(std::move(picture));
        }
    }
    for (const std::unique_ptr<StagedFile>& file : staged) file->commit();
    if (folder) folder->keep();
    print(classify_report(result, options.csv));
    return kExitDone;
}

}  // namespace

const Command kClassifyCommand = {
    "classify", "recognise which digit each test sample is, with ten of programma's recognisers", kHelp, run};
