// The chain of prediction vectors built by voted training: one node per
// vector with its survival count, appended in order and listed on demand as
// an array of entries that snapshot the counts and borrow the vectors.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct VotedNode {
    uint32_t count = 0;
    std::vector<float> vector;  // one weight per feature
    VotedNode* next = nullptr;
};

// Owns its nodes; head and tail are null together, count is the node count.
struct VotedList {
    VotedNode* head = nullptr;
    VotedNode* tail = nullptr;
    uint32_t count = 0;

    VotedList() = default;
    VotedList(const VotedList&) = delete;
    VotedList& operator=(const VotedList&) = delete;
    ~VotedList();
};

struct VotedEntry {
    uint32_t count = 0;       // the node's count when the chain was listed
    float* vector = nullptr;  // the node's own storage, valid while the chain lives
};

// Statuses: 0 success, -1 failure.
int create_list_v(std::unique_ptr<VotedList>& list);
// Appends a copy of the node's count and vector; its next field is ignored.
int add_list_v(const VotedNode& node, const std::unique_ptr<VotedList>& list);
// Replaces the caller's array with one entry per node in chain order; without
// a chain the array is left as it was.
int read_list_v(std::vector<VotedEntry>& array, const VotedList* list);
int del_list_v(std::unique_ptr<VotedList>& list);
