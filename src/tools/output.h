// The one rule for every file digit-tools writes: each output is checked
// before any work starts (against the run's inputs and its other outputs),
// then written to a temporary file beside its target, synced and renamed, so
// that an old file is either kept whole or replaced whole.
#pragma once

#include <sys/types.h>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A file as the system knows it, after links.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

enum class Destination { file, standard_output, discard };

// A checked output: where its bytes go, and the file they replace.
struct OutputTarget {
    std::string shown;  // the path as given, for messages
    std::string path;   // after links: the file that is created or replaced
    Destination destination = Destination::file;
};

// What an output may be besides a file in a writable folder.
enum class StandardOutput { allowed, refused };

// The files of one run. Every check throws std::runtime_error (status 1).
class RunFiles {
public:
    // A file the run reads; one that does not exist is left to its reader.
    void input(const std::string& path);
    // A sample set, which the loader reads twice: it must be a regular file.
    void sample_set(const std::string& path);
    // An output: not a folder, a FIFO or a device (but /dev/null), not an
    // input or another output, in an existing writable folder.
    OutputTarget output(const std::string& path, StandardOutput standard = StandardOutput::refused);

private:
    std::vector<std::pair<FileId, std::string>> inputs_;
    std::vector<std::string> outputs_;  // targets after links
};

// A temporary file beside a target, removed unless committed.
class StagedFile {
public:
    explicit StagedFile(const OutputTarget& target);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    const std::string& temporary() const { return temporary_; }
    int descriptor() const { return fd_; }
    // Writes every byte, then syncs and closes.
    void write(std::string_view bytes);
    // Syncs and closes what another writer (a library, gnuplot) put there.
    void close_written();
    // Puts the file in place of its target.
    void commit();

private:
    void fail(const std::string& what) const;
    OutputTarget target_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes `bytes` to a temporary file beside a file target, kept in `staged`
// until the caller commits every file; standard output and /dev/null are
// left to the caller.
void stage_output(std::vector<std::unique_ptr<StagedFile>>& staged, const OutputTarget& target, std::string_view bytes);

// Writes a whole output: a file through a StagedFile, standard output as it
// is (checked at the end), /dev/null not at all.
void write_output(const OutputTarget& target, std::string_view bytes);

// Flushes standard output; false (with the message printed) when any write
// to it failed.
bool standard_output_ok();

// The part of a path before its last slash ("." when it has none).
std::string folder_of(const std::string& path);
