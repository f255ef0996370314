// The reference modules in process: the two lists, the kernels on cases
// worked out by hand, the decision rule, and the voted method's training
// and testing. (The mistake-list text is the mistake_list fuzz target's,
// its corpus replayed by ctest, and the run matrix's restored lists.)
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fast_voted.h"
#include "perceptron_lib.h"
#include "support.h"
#include "voted_lib_ker.h"
#include "voted_list_lib.h"

namespace {

SampleMatrix matrix(uint32_t columns, std::vector<float> values) {
    SampleMatrix set;
    set.columns = columns;
    set.rows = uint32_t(values.size() / columns);
    set.values.assign(values.begin(), values.end());
    return set;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// A missing list is refused, by the list functions and by the test; reading
// a list replaces what the array held; training starts a new list. (The
// order and repeats of entries, and training's and testing's reports, are
// the run matrix's saved lists and whole runs of programma_reference.)
TEST(Lists, MissingListsAreRefusedAndTrainingStartsANewOne) {
    std::unique_ptr<IndexList> list;
    std::vector<int32_t> array = {7};
    EXPECT_EQ(read_list(array, nullptr), -1);
    EXPECT_EQ(add_list(1, list), -1);
    const SampleMatrix set = matrix(2, {0, 1, 10, 0});
    float error = -1;
    EXPECT_EQ(run_test(1, KernelSpec{KernelKind::gaussian, 1.0f}, nullptr, set, 2, 2, set, 2, 2, error), 1);
    ASSERT_EQ(create_list(list), 0);
    EXPECT_EQ(read_list(array, list.get()), 0);
    EXPECT_TRUE(array.empty());
    ASSERT_EQ(add_list(5, list), 0);
    EXPECT_EQ(run(0, 1, KernelSpec{KernelKind::gaussian, 1.0f}, list, set, 2, 2, error), 0);
    EXPECT_EQ(list->count, 0u);
    EXPECT_EQ(error, 0.0f);
}

TEST(Lists, VotedListingSnapshotsCountsAndBorrowsVectors) {
    std::unique_ptr<VotedList> chain;
    std::vector<VotedEntry> listing;
    EXPECT_EQ(read_list_v(listing, nullptr), -1);
    ASSERT_EQ(create_list_v(chain), 0);
    EXPECT_EQ(read_list_v(listing, chain.get()), 0);
    EXPECT_TRUE(listing.empty());
    VotedNode node{0, {1.0f, 2.0f}, reinterpret_cast<VotedNode*>(0x1)};  // next is ignored
    for (uint32_t count : {0u, 1u, 1u}) {
        node.count = count;
        node.vector[0] = float(count);
        add_list_v(node, chain);
    }
    EXPECT_EQ(chain->tail->next, nullptr);
    read_list_v(listing, chain.get());
    ASSERT_EQ(listing.size(), 3u);
    EXPECT_EQ(listing[1].count, 1u);
    EXPECT_EQ(listing[2].vector, chain->tail->vector.data());
    chain->tail->count += 5;
    EXPECT_EQ(listing[2].count, 1u);  // a snapshot
    read_list_v(listing, chain.get());
    EXPECT_EQ(listing[2].count, 6u);
}

TEST(Kernels, HandWorkedValues) {
    const float x[] = {1, 2}, y[] = {3, 4}, zero[] = {0, 0}, one[] = {1, 1};
    float value = -1;
    vect_pr(0, x, y, value);
    EXPECT_EQ(value, 0.0f);
    // The dot product takes each product exactly: with each rounded to float
    // first the sum would end one step higher.
    const float thirds[] = {1.0f / 3, 1.0f / 3}, third_seventh[] = {1.0f / 3, 1.0f / 7};
    vect_pr(2, thirds, third_seventh, value);
    EXPECT_EQ(value, 0x1.451452p-3f);
    ker_gauss(0, x, y, value, 3.0f);
    EXPECT_EQ(value, 1.0f);
    ker_gauss(2, zero, one, value, 3.0f);
    EXPECT_EQ(value, std::exp(-2.0f / 3.0f));
    ker_gauss(2, zero, one, value, 0.0f);
    EXPECT_EQ(value, 0.0f);
    ker_gauss(2, one, one, value, 0.0f);
    EXPECT_TRUE(std::isnan(value));
    vect_diff_raised(2, zero, y, value);
    EXPECT_EQ(value, 25.0f);
    const float minus[] = {-1, 0};
    ::testing::internal::CaptureStdout();
    ker_pol(2, x, y, value, 2.0f);
    float base_zero = 5;
    ker_pol(2, minus, one, base_zero, 3.0f);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Arg 2 nan nan 25.000000 2.000000result vale 144.000000"
              "Arg 2 nan nan 5.000000 3.000000result vale 0.000000");
    EXPECT_EQ(value, 144.0f);
    EXPECT_EQ(base_zero, 0.0f);
    // The trace shows element 256 when the rows have it.
    std::vector<float> long_x(257, 0.0f), long_y(257, 0.0f);
    long_x[256] = 3;
    long_y[256] = 7;
    value = 0;  // the evaluation before, which the trace shows too
    EXPECT_EQ(stdout_of([&] { ker_pol(256, long_x.data(), long_y.data(), value, 1.0f); }),
              "Arg 256 3.000000 7.000000 0.000000 1.000000result vale 1.000000");
}

TEST(Classify, SignOfTheSumInListOrder) {
    // Rows 0 and 1 have equal features: their terms cancel to exactly 0.
    const SampleMatrix set = matrix(2, {0, 1, 0, 0, 9, 3.5f, kNaN, 1});
    const int32_t cancel[] = {0, 1}, negative[] = {1}, not_a_number[] = {3};
    const KernelSpec ker{KernelKind::gaussian, 1.0f};
    int32_t answer = 0;
    classify(ker, 1, set.row(0), set, 2, 4, cancel, 2, answer);
    EXPECT_EQ(answer, 1);
    classify(ker, 1, set.row(0), set, 2, 4, negative, 1, answer);
    EXPECT_EQ(answer, -1);
    classify(ker, 1, set.row(0), set, 2, 4, not_a_number, 1, answer);
    EXPECT_EQ(answer, 1);
    classify(ker, 1, set.row(0), set, 2, 4, nullptr, 0, answer);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(target_label(3.5f, 3), -1);
    EXPECT_EQ(target_label(kNaN, 3), -1);
    EXPECT_EQ(target_label(3.0f, 3), 1);
}

TEST(Voted, SurvivalCountsVotesAndOutput) {
    // Worked by hand: one mistake (row 1) in the first epoch, whose vector
    // then survives five samples; the test's kernel values are 8, 0 and -8.
    const SampleMatrix train = matrix(3, {1, 0, 1, 0, 1, 0, 1, 0, 1});
    const SampleMatrix test = matrix(3, {0, 1, 0, 0, -1, 1, 0, -3, 1});
    for (bool relist : {true, false}) {
        std::vector<int32_t> indices;
        std::vector<uint32_t> votes;
        uint32_t n = 0;
        float error = -1;
        ::testing::internal::CaptureStdout();
        (relist ? run_v_train_ker : train_voted_fast)(2, 1, train, 3, 3, indices, votes, n, error);
        run_v_test_ker(1, test, 3, 3, train, 3, 3, indices.data(), votes.data(), n, error);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(),
                  "ho fatto la 0-esima epoca, 1 errori, 2 right"
                  "ho fatto la 1-esima epoca, 0 errori, 3 right"
                  "Ho classificato la cifra 1 e ho azzeccato 2 volte e sbagliato 1 volte, ho detto 2 "
                  "volte meno e 1 volte piu'\n");
        EXPECT_EQ(indices, (std::vector<int32_t>{1}));
        EXPECT_EQ(votes, (std::vector<uint32_t>{5}));
        EXPECT_EQ(error, 1.0f / 3.0f);
    }
    float value = -1;
    const float minus_one[] = {-1, 0}, one[] = {1, 0};
    kernel_pol(2, minus_one, one, value, 3);
    EXPECT_EQ(value, 0.0f);
}

}  // namespace
