// Mistake lists are saved through a temporary file that replaces the target
// only once it is complete and synced, so a failed or interrupted save never
// damages an existing list.
#include "mistake_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "diagnostics.h"

namespace {

std::string directory_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links so that a save replaces the file a link names and
// keeps the link itself.
std::string resolve_links(const char* path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string target(std::size_t(info.st_size > 0 ? info.st_size : 256) + 1, '\0');
        ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0) return current;
        target.resize(std::size_t(length));
        current = (!target.empty() && target[0] == '/') ? target : directory_of(current) + "/" + target;
    }
    return current;
}

bool fail(const char* path, int error) {
    report_file_problem(programma::ErrorKind::input_output, path, 0, error,
                        std::string("cannot save: ") + std::strerror(error));
    return false;
}

// Writes all of text to fd; 0 or the errno of the failed write.
int write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd, text.data(), text.size());
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        text.remove_prefix(std::size_t(wrote));
    }
    return 0;
}

// Writes into an existing file in place: a device or FIFO is never replaced
// by a new file, and a regular file is synced (`sync`) when it is one the
// folder does not let a temporary file be made beside.
bool save_in_place(const char* shown_path, const std::string& target, std::string_view text, bool sync) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(shown_path, errno);
    int error = write_all(fd, text);
    if (error == 0 && sync && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    return error == 0 || fail(shown_path, error);
}

// The temporary file beside a target: a dot, the target's name cut to 247
// bytes, and six random characters, so that it fits wherever the target's
// own name (at most 255 bytes) fits.
std::string temporary_name(const std::string& target) {
    return directory_of(target) + "/." + base_of(target).substr(0, 247) + ".XXXXXX";
}

// Writes a temporary file beside the target, syncs it and renames it over the
// target: the target holds either its old content or the whole new list.
bool save_by_replacing(const char* shown_path, const std::string& target, const struct stat* existing,
                       std::string_view text) {
    std::string temp = temporary_name(target);
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        // A writable file in a folder that takes no new file is written in
        // place, as opening it for writing would.
        const int error = errno;
        const bool folder_refuses = error == EACCES || error == EPERM || error == EROFS;
        if (existing != nullptr && folder_refuses) return save_in_place(shown_path, target, text, true);
        return fail(shown_path, error);
    }
    mode_t mode = 0;
    if (existing != nullptr) {
        mode = existing->st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    int error = write_all(fd, text);
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return fail(shown_path, error);
    }
    return true;
}

}  // namespace

std::string list_text(const std::vector<int32_t>& entries) {
    std::string text;
    char number[16];
    for (int32_t index : entries) {
        const int length = std::snprintf(number, sizeof number, "%u", static_cast<uint32_t>(index));
        text.append(number, std::size_t(length));
        text += '\n';
    }
    return text;
}

bool save_text(const char* path, std::string_view text) {
    if (path == nullptr || path[0] == '\0') {
        report(programma::Error{
            programma::ErrorKind::invalid_argument, "cannot save: the file name is empty", {}, 0, 0, "path"});
        return false;
    }
    // A file-size limit must make the write fail, not kill the program
    // half-way through the save.
    std::signal(SIGXFSZ, SIG_IGN);

    const std::string target = resolve_links(path);
    struct stat info {};
    const bool exists = ::stat(target.c_str(), &info) == 0;
    // Only a missing target is created; one that cannot be looked up (a loop
    // of symbolic links, a folder that cannot be searched) is not replaced.
    if (!exists && errno != ENOENT) return fail(path, errno);
    if (exists && S_ISDIR(info.st_mode)) return fail(path, EISDIR);
    if (exists && !S_ISREG(info.st_mode)) return save_in_place(path, target, text, false);
    // A file the user may not write is not replaced (root may, as with
    // opening it for writing).
    if (exists && ::access(target.c_str(), W_OK) != 0) return fail(path, errno);
    return save_by_replacing(path, target, exists ? &info : nullptr, text);
}

bool read_text_file(const char* path, std::string& text) {
    text.clear();
    return read_file_blocks(path, [&](std::string_view block) {
        text.append(block);
        return true;
    });
}

bool read_file_blocks(const char* path, const std::function<bool(std::string_view)>& on_block) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        report_file_problem(programma::ErrorKind::input_output, path, 0, error,
                            std::string("cannot open: ") + std::strerror(error));
        return false;
    }
    char block[1 << 16];
    for (;;) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            report_file_problem(programma::ErrorKind::input_output, path, 0, error,
                                std::string("cannot read: ") + std::strerror(error));
            return false;
        }
        if (got == 0 || !on_block(std::string_view(block, std::size_t(got)))) break;
    }
    ::close(fd);
    return true;
}

std::string unknown_row(std::size_t entry, std::string_view index, uint32_t training_rows) {
    return "entry " + std::to_string(entry) + " (index " + std::string(index) + ") names no row of the " +
           std::to_string(training_rows) + "-row training set";
}

std::vector<uint32_t> parse_list_text(std::string_view text) {
    std::vector<uint32_t> entries;
    std::size_t i = 0;
    const std::size_t size = text.size();
    const auto digit_at = [&](std::size_t at) {
        return at < size && std::isdigit(static_cast<unsigned char>(text[at])) != 0;
    };
    for (;;) {
        while (i < size && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        bool negative = false;
        if (i < size && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (!digit_at(i)) break;
        uint64_t value = 0;
        for (; digit_at(i); ++i) {
            value = std::min<uint64_t>(value * 10 + uint64_t(text[i] - '0'), uint64_t(UINT32_MAX) + 1);
        }
        if (value > UINT32_MAX || (negative && value != 0)) value = UINT32_MAX;
        entries.push_back(uint32_t(value));
    }
    return entries;
}
