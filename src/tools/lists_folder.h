// A folder of classify's lists: DIR/LABEL.list for each label and
// DIR/manifest. A run holds the folder under a lock while it works:
// --lists alone (the folder made when missing, and removed again when the
// run fails, made it and it holds nothing), --restore beside other
// restores; a run the lock refuses stops at once.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "labels.h"
#include "manifest.h"
#include "output.h"

std::string manifest_path(const std::string& folder);
std::string list_path(const std::string& folder, float label);

class ListsFolder {
public:
    enum class Use { write, read };
    // Makes the folder when writing and it is missing, and locks it;
    // throws std::runtime_error naming it when it cannot.
    ListsFolder(const std::string& path, Use use);
    ~ListsFolder();
    ListsFolder(const ListsFolder&) = delete;
    ListsFolder& operator=(const ListsFolder&) = delete;
    // The run succeeded: a folder it made stays.
    void keep() { made_ = false; }

private:
    std::string path_;
    int fd_ = -1;
    bool made_ = false;
};

// A folder's manifest, or none when it has none (lists saved by programma);
// throws when it cannot be read or is no manifest.
std::optional<Manifest> read_manifest(const std::string& folder);

// The list of each label, each a regular file read once and held to the
// library's rule; with the manifest's list hashes, each must be the list
// the manifest records. Throws naming the list at fault.
std::vector<std::vector<int32_t>> read_lists(const std::string& folder, const Labels& labels, uint32_t training_rows,
                                             const Manifest* manifest);

// Stages the list of each label (targets[i] for lists[i], in the library's
// list format) and then the manifest (the last target) with each list's
// hash, so that a failure leaves every old file in place.
void stage_lists(const std::vector<OutputTarget>& targets, const std::vector<std::vector<int32_t>>& lists,
                 Manifest manifest, std::vector<std::unique_ptr<StagedFile>>& staged);
