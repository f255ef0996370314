// Lists folders: the lock that keeps two runs from mixing their lists, the
// lists and manifest read back against their hashes, and their staging.
#include "lists_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "samples.h"

namespace {

// Far above any manifest digit-tools writes (a line for each of thousands
// of labels), and far below what a file that is no manifest could hold.
constexpr std::size_t kMostManifestBytes = std::size_t(1) << 20;

std::string reason() { return std::strerror(errno); }

}  // namespace

std::string manifest_path(const std::string& folder) { return folder + "/manifest"; }

std::string list_path(const std::string& folder, float label) { return folder + "/" + label_text(label) + ".list"; }

ListsFolder::ListsFolder(const std::string& path, Use use) : path_(path) {
    const bool made = use == Use::write && ::mkdir(path.c_str(), 0777) == 0;
    if (use == Use::write && !made && errno != EEXIST) fail_in(path, "cannot make the folder: " + reason());
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) fail_in(path, errno == ENOTDIR ? "is not a folder" : "cannot open: " + reason());
    if (::flock(fd_, (use == Use::write ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd_);
        fd_ = -1;
        // A folder this run made but another locked first is that run's now.
        if (error != EWOULDBLOCK) fail_in(path, "cannot lock: " + std::string(std::strerror(error)));
        fail_in(path, use == Use::write ? "another run is using these lists; run again once it is done"
                                        : "another run is writing these lists; run again once it is done");
    }
    made_ = made;
}

ListsFolder::~ListsFolder() {
    // Only a folder that holds nothing goes: rmdir removes no other.
    if (made_) ::rmdir(path_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

std::optional<Manifest> read_manifest(const std::string& folder) {
    const std::string path = manifest_path(folder);
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && errno == ENOENT) return std::nullopt;  // lists saved by programma
    std::string problem;
    std::optional<Manifest> manifest = parse_manifest(read_regular_file(path, kMostManifestBytes), problem);
    if (!manifest) fail_in(path, "is not a lists manifest: " + problem);
    return manifest;
}

std::vector<std::vector<int32_t>> read_lists(const std::string& folder, const Labels& labels, uint32_t training_rows,
                                             const Manifest* manifest) {
    const bool hashed = manifest != nullptr && !manifest->list_hashes.empty();
    std::vector<std::vector<int32_t>> lists;
    for (const float label : labels) {
        const std::string path = list_path(folder, label);
        const std::string text = read_regular_file(path);
        if (hashed && text_hash(text) != manifest->list_hashes[position_of(manifest->labels, label)]) {
            fail_in(path, "is not the list " + manifest_path(folder) + " records: its bytes differ (another hash)");
        }
        lists.push_back(programma::value_or_throw(programma::parse_list(text, training_rows, path)));
    }
    return lists;
}

void stage_lists(const std::vector<OutputTarget>& targets, const std::vector<std::vector<int32_t>>& lists,
                 Manifest manifest, std::vector<std::unique_ptr<StagedFile>>& staged) {
    manifest.list_hashes.clear();
    for (std::size_t i = 0; i < lists.size(); ++i) {
        staged.push_back(std::make_unique<StagedFile>(targets[i]));
        staged.back()->close_written();
        const std::string& temporary = staged.back()->temporary();
        const programma::Status saved = programma::save_list(temporary, lists[i]);
        if (!saved) {
            // The staged file's faults are its target's: the target's name is shown.
            programma::Error error = saved.error();
            if (error.path == temporary) error.path = targets[i].shown;
            throw std::runtime_error(error.message());
        }
        manifest.list_hashes.push_back(text_hash(read_regular_file(temporary)));
    }
    staged.push_back(std::make_unique<StagedFile>(targets.back()));
    staged.back()->write(format_manifest(manifest));
}
