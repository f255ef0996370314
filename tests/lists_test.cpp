// The index list and the chain of prediction vectors.
#include <gtest/gtest.h>

#include "list_lib.h"
#include "voted_list_lib.h"

namespace {

TEST(IndexListTest, AppendsInOrderWithRepeats) {
    std::unique_ptr<IndexList> list;
    ASSERT_EQ(create_list(list), 0);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->head, nullptr);
    EXPECT_EQ(list->tail, nullptr);

    std::vector<int32_t> array = {99};
    EXPECT_EQ(read_list(array, list.get()), 0);
    EXPECT_TRUE(array.empty());

    EXPECT_EQ(add_list(3, list), 0);
    EXPECT_EQ(list->head, list->tail);
    EXPECT_EQ(list->count, 1u);
    EXPECT_EQ(add_list(1, list), 0);
    EXPECT_EQ(add_list(3, list), 0);
    EXPECT_EQ(list->count, 3u);
    EXPECT_EQ(list->tail->next, nullptr);
    EXPECT_EQ(read_list(array, list.get()), 0);
    EXPECT_EQ(array, (std::vector<int32_t>{3, 1, 3}));

    // A snapshot does not follow later appends until listed again.
    add_list(8, list);
    EXPECT_EQ(array.size(), 3u);
    read_list(array, list.get());
    EXPECT_EQ(array, (std::vector<int32_t>{3, 1, 3, 8}));

    EXPECT_EQ(del_list(list), 0);
    EXPECT_FALSE(list);
}

TEST(IndexListTest, MissingListIsAFailure) {
    std::unique_ptr<IndexList> none;
    std::vector<int32_t> array = {7};
    EXPECT_EQ(add_list(1, none), -1);
    EXPECT_EQ(read_list(array, nullptr), -1);
    EXPECT_EQ(array, std::vector<int32_t>{7});
}

TEST(IndexListTest, LongListIsReleasedWithoutRecursion) {
    std::unique_ptr<IndexList> list;
    create_list(list);
    for (int32_t i = 0; i < 1000000; ++i) add_list(i, list);
    EXPECT_EQ(list->count, 1000000u);
    del_list(list);
}

VotedNode node_with(uint32_t count, std::vector<float> vector) {
    VotedNode node;
    node.count = count;
    node.vector = std::move(vector);
    return node;
}

TEST(VotedListTest, NewChainListsEmpty) {
    std::unique_ptr<VotedList> chain;
    ASSERT_EQ(create_list_v(chain), 0);
    std::vector<VotedEntry> array(2);
    EXPECT_EQ(read_list_v(array, chain.get()), 0);
    EXPECT_TRUE(array.empty());
}

TEST(VotedListTest, CountsAreSnapshotsVectorsAreBorrowed) {
    std::unique_ptr<VotedList> chain;
    create_list_v(chain);
    VotedNode stray;
    VotedNode first = node_with(0, {0, 0});
    first.next = &stray;  // ignored by the append
    EXPECT_EQ(add_list_v(first, chain), 0);
    EXPECT_EQ(chain->head, chain->tail);
    EXPECT_EQ(chain->head->next, nullptr);
    add_list_v(node_with(1, {1, 2}), chain);
    add_list_v(node_with(1, {3, 4}), chain);
    EXPECT_EQ(chain->count, 3u);

    std::vector<VotedEntry> before;
    ASSERT_EQ(read_list_v(before, chain.get()), 0);
    ASSERT_EQ(before.size(), 3u);
    EXPECT_EQ(before[0].count, 0u);
    EXPECT_EQ(before[1].count, 1u);
    EXPECT_EQ(before[2].count, 1u);
    EXPECT_EQ(before[0].vector, chain->head->vector.data());
    EXPECT_EQ(before[2].vector, chain->tail->vector.data());
    EXPECT_EQ(before[1].vector[1], 2.0f);

    chain->tail->count += 1;
    chain->tail->vector[0] = 9.0f;
    EXPECT_EQ(before[2].count, 1u);       // snapshot
    EXPECT_EQ(before[2].vector[0], 9.0f);  // borrowed storage
    std::vector<VotedEntry> after;
    read_list_v(after, chain.get());
    EXPECT_EQ(after[2].count, 2u);
}

TEST(VotedListTest, AppendCopiesTheWholeNode) {
    std::unique_ptr<VotedList> chain;
    create_list_v(chain);
    VotedNode node = node_with(5, std::vector<float>(256, 0.5f));
    add_list_v(node, chain);
    node.vector[255] = -1.0f;
    EXPECT_EQ(chain->head->vector.size(), 256u);
    EXPECT_EQ(chain->head->vector[255], 0.5f);
    EXPECT_EQ(chain->head->count, 5u);
}

TEST(VotedListTest, MissingChainIsAFailure) {
    std::unique_ptr<VotedList> none;
    std::vector<VotedEntry> array(1);
    EXPECT_EQ(add_list_v(node_with(1, {1}), none), -1);
    EXPECT_EQ(read_list_v(array, nullptr), -1);
    EXPECT_EQ(array.size(), 1u);
    std::unique_ptr<VotedList> chain;
    create_list_v(chain);
    EXPECT_EQ(del_list_v(chain), 0);
    EXPECT_FALSE(chain);
}

}  // namespace
