#include "list_lib.h"

#include <new>

IndexList::~IndexList() {
    // Iterative, so that a long list cannot exhaust the stack.
    IndexNode* node = head;
    while (node != nullptr) {
        IndexNode* next = node->next;
        delete node;
        node = next;
    }
}

int create_list(std::unique_ptr<IndexList>& list) {
    list.reset(new (std::nothrow) IndexList());
    return list ? 0 : -1;
}

int add_list(int32_t index, const std::unique_ptr<IndexList>& list) {
    if (!list) return -1;
    auto* node = new IndexNode{index, nullptr};
    if (list->head == nullptr) {
        list->head = node;
        list->tail = node;
        list->count = 1;
    } else {
        list->tail->next = node;
        list->tail = node;
        list->count += 1;
    }
    return 0;
}

int read_list(std::vector<int32_t>& array, const IndexList* list) {
    if (list == nullptr) return -1;
    array.clear();
    array.reserve(list->count);
    for (const IndexNode* node = list->head; node != nullptr; node = node->next) {
        array.push_back(node->index);
    }
    return 0;
}

int del_list(std::unique_ptr<IndexList>& list) {
    list.reset();
    return 0;
}
