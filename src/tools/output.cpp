// Checks and writes every output of digit-tools: identities after links,
// folders that must exist and be writable, temporary files synced and
// renamed into place.
#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "interrupt.h"
#include "samples.h"
#include "text.h"

namespace {

// Room for ".NAME.XXXXXX" within a 255-byte file name.
constexpr std::size_t kLongestTemporaryBase = 247;

std::string reason() { return std::strerror(errno); }

std::string base_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::optional<std::string> real_path(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return std::nullopt;
    return std::string(resolved);
}

FileId id_of(const struct stat& info) { return FileId{info.st_dev, info.st_ino}; }

bool is_dev_null(const struct stat& info) {
    struct stat null_info {};
    return S_ISCHR(info.st_mode) && ::stat("/dev/null", &null_info) == 0 && id_of(info) == id_of(null_info);
}

void require_writable_folder(const std::string& folder, const std::string& shown) {
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) fail_in(shown, "its folder " + folder + " does not exist");
    if (!S_ISDIR(info.st_mode)) fail_in(shown, folder + " is not a folder");
    if (::access(folder.c_str(), W_OK | X_OK) != 0) fail_in(shown, "cannot write in its folder: " + reason());
}

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void RunFiles::input(const std::string& path) {
    struct stat info {};
    if (path == "-") {
        if (::fstat(0, &info) == 0 && S_ISREG(info.st_mode)) claim(id_of(info), "- (standard input)", false);
    } else if (::stat(path.c_str(), &info) == 0) {
        claim(id_of(info), path, false);
    }
}

void RunFiles::regular_input(const std::string& path, const std::string& why) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) fail_in(path, "is not a regular file; " + why);
    input(path);
}

void RunFiles::sample_set(const std::string& path) {
    regular_input(path, "a sample set is read twice, so give a file, not a stream");
}

void RunFiles::report_to_standard_output() {
    struct stat info {};
    if (::fstat(1, &info) == 0 && S_ISREG(info.st_mode)) claim(id_of(info), "standard output", true);
}

void RunFiles::claim(const FileId& id, const std::string& shown, bool written) {
    for (const Known& known : known_) {
        if (known.id != id || (!written && !known.written)) continue;
        if (!written) fail_in(known.shown, "cannot write: it is the input " + shown);
        fail_in(shown, std::string("cannot write: it is the ") + (known.written ? "output " : "input ") + known.shown);
    }
    known_.push_back({id, shown, written});
}

OutputTarget RunFiles::output(const std::string& path, Takes takes) {
    if (path == "-") {
        if (takes != Takes::or_standard_output) fail_in(path, "standard output is not offered for this file");
        report_to_standard_output();
        return OutputTarget{path, path, Destination::standard_output};
    }
    OutputTarget target{path, path, Destination::file};
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists) {
        if (is_dev_null(info) && takes != Takes::file_only) return OutputTarget{path, path, Destination::discard};
        if (S_ISDIR(info.st_mode)) fail_in(path, "cannot write: it is a folder");
        if (!S_ISREG(info.st_mode)) fail_in(path, "cannot write: not a regular file (a FIFO or a device)");
        if (::access(path.c_str(), W_OK) != 0) fail_in(path, "cannot write: " + reason());
        target.path = real_path(path).value_or(path);
    } else if (errno == ENOENT) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0) fail_in(path, "cannot write: a link to a missing file");
        const std::optional<std::string> folder = real_path(folder_of(path));
        if (!folder) fail_in(path, "its folder " + folder_of(path) + " does not exist");
        target.path = (*folder == "/" ? "" : *folder) + "/" + base_of(path);
    } else {
        fail_in(path, "cannot write: " + reason());
    }
    require_writable_folder(folder_of(target.path), path);
    if (std::find(outputs_.begin(), outputs_.end(), target.path) != outputs_.end()) {
        fail_in(path, "is named as two outputs of this run");
    }
    if (exists) claim(id_of(info), path, true);
    outputs_.push_back(target.path);
    return target;
}

StagedFile::StagedFile(const OutputTarget& target) : target_(target) {
    struct stat old {};
    const bool replacing = ::stat(target.path.c_str(), &old) == 0;
    std::string pattern =
        folder_of(target.path) + "/." + base_of(target.path).substr(0, kLongestTemporaryBase) + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) fail("cannot make a temporary file: " + reason());
    temporary_ = pattern;
    if (::fchmod(fd_, replacing ? old.st_mode & 07777 : new_file_mode()) != 0) fail("cannot set its mode: " + reason());
}

StagedFile::~StagedFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void StagedFile::fail(const std::string& what) const { fail_in(target_.shown, what); }

void StagedFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd_, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) fail("cannot write: " + reason());
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    close_written();
}

void StagedFile::close_written() {
    const bool synced = ::fsync(fd_) == 0;
    const int sync_error = errno;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (!synced) errno = sync_error;
    if (!synced || !closed) fail("cannot write: " + reason());
}

void StagedFile::commit() {
    stop_if_interrupted();
    put_in_place();
}

void StagedFile::put_in_place() {
    if (::rename(temporary_.c_str(), target_.path.c_str()) != 0) fail("cannot put in place: " + reason());
    committed_ = true;
}

void commit_all(const std::vector<std::unique_ptr<StagedFile>>& staged) {
    stop_if_interrupted();
    for (const std::unique_ptr<StagedFile>& file : staged) file->put_in_place();
}

void stage_output(std::vector<std::unique_ptr<StagedFile>>& staged, const OutputTarget& target,
                  std::string_view bytes) {
    if (target.destination != Destination::file) return;
    staged.push_back(std::make_unique<StagedFile>(target));
    staged.back()->write(bytes);
}

void write_output(const OutputTarget& target, std::string_view bytes) {
    switch (target.destination) {
        case Destination::discard: return;
        case Destination::standard_output:
            if (!write_standard_output(bytes)) fail_in("standard output", "cannot write: " + reason());
            return;
        case Destination::file: {
            StagedFile staged(target);
            staged.write(bytes);
            staged.commit();
            return;
        }
    }
}
