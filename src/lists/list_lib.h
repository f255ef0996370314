// The index list: an append-only list of training-row indices, one entry per
// training mistake, handed out on demand as a contiguous snapshot array.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct IndexNode {
    int32_t index = 0;
    IndexNode* next = nullptr;
};

// Owns its nodes; head and tail are null together, count is the node count.
struct IndexList {
    IndexNode* head = nullptr;
    IndexNode* tail = nullptr;
    uint32_t count = 0;

    IndexList() = default;
    IndexList(const IndexList&) = delete;
    IndexList& operator=(const IndexList&) = delete;
    ~IndexList();
};

// Statuses: 0 success, -1 failure.
int create_list(std::unique_ptr<IndexList>& list);
int add_list(int32_t index, const std::unique_ptr<IndexList>& list);
// Replaces the caller's array with the list's entries in list order
// (an empty list gives an empty array).
int read_list(std::vector<int32_t>& array, const IndexList* list);
int del_list(std::unique_ptr<IndexList>& list);
