// The one rule for every file digit-tools writes: each output is checked
// before any work starts (against the run's inputs, its other outputs and
// the standard streams), then written to a temporary file beside its
// target, synced and renamed, so that an old file is either kept whole or
// replaced whole.
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

// What an output may be besides a regular file or a new name in a writable
// folder: /dev/null (its bytes dropped), and "-" for standard output.
enum class Takes { file_only, or_dev_null, or_standard_output };

// The files of one run, and the standard streams it uses. Every check
// throws std::runtime_error (status 1).
class RunFiles {
public:
    // A file the run reads ("-": standard input); one that does not exist
    // is left to its reader.
    void input(const std::string& path);
    // A file the run reads as a whole file (a sample set, which the loader
    // reads twice; a list or manifest): it must be a regular file. `why`
    // says why in the refusal.
    void regular_input(const std::string& path, const std::string& why);
    void sample_set(const std::string& path);
    // An output: not a folder, a FIFO or a device (but what `takes` allows),
    // not an input or another output, in an existing writable folder.
    OutputTarget output(const std::string& path, Takes takes = Takes::or_dev_null);
    // The run prints its report on standard output: it may not be a file
    // the run reads or writes.
    void report_to_standard_output();

private:
    struct Known {
        FileId id;
        std::string shown;
        bool written = false;
    };
    // Records a file of the run; refuses it when it is one already known
    // and either of the two is written.
    void claim(const FileId& id, const std::string& shown, bool written);
    std::vector<Known> known_;
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
    // Puts the file in place of its target, unless a signal has come.
    void commit();

private:
    friend void commit_all(const std::vector<std::unique_ptr<StagedFile>>& staged);
    void put_in_place();
    void fail(const std::string& what) const;
    OutputTarget target_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// Puts every staged file in place, unless a signal has come: then none.
void commit_all(const std::vector<std::unique_ptr<StagedFile>>& staged);

// Writes `bytes` to a temporary file beside a file target, kept in `staged`
// until the caller commits every file; standard output and /dev/null are
// left to the caller.
void stage_output(std::vector<std::unique_ptr<StagedFile>>& staged, const OutputTarget& target, std::string_view bytes);

// Writes a whole output: a file through a StagedFile, standard output as it
// is (a failed write is reported at once), /dev/null not at all.
void write_output(const OutputTarget& target, std::string_view bytes);

// The part of a path before its last slash ("." when it has none).
std::string folder_of(const std::string& path);
