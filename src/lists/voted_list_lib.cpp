#include "voted_list_lib.h"

#include <new>

VotedList::~VotedList() {
    // Iterative, so that a long chain cannot exhaust the stack.
    VotedNode* node = head;
    while (node != nullptr) {
        VotedNode* next = node->next;
        delete node;
        node = next;
    }
}

int create_list_v(std::unique_ptr<VotedList>& list) {
    list.reset(new (std::nothrow) VotedList());
    return list ? 0 : -1;
}

int add_list_v(const VotedNode& node, const std::unique_ptr<VotedList>& list) {
    if (!list) return -1;
    auto* copy = new VotedNode{node.count, node.vector, nullptr};
    if (list->head == nullptr) {
        list->head = copy;
        list->tail = copy;
        list->count = 1;
    } else {
        list->tail->next = copy;
        list->tail = copy;
        list->count += 1;
    }
    return 0;
}

int read_list_v(std::vector<VotedEntry>& array, const VotedList* list) {
    if (list == nullptr) return -1;
    array.clear();
    array.reserve(list->count);
    for (VotedNode* node = list->head; node != nullptr; node = node->next) {
        array.push_back(VotedEntry{node->count, node->vector.data()});
    }
    return 0;
}

int del_list_v(std::unique_ptr<VotedList>& list) {
    list.reset();
    return 0;
}
