// Voted training and testing on sets small enough to follow by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "matrices.h"
#include "voted_lib_ker.h"

namespace {

struct VotedRun {
    std::vector<int32_t> mistakes;
    std::vector<uint32_t> votes;
    uint32_t n = 99;
    float error = -7.0f;
    std::string out;
};

VotedRun train(uint32_t epochs, uint32_t digit, const SampleMatrix& set) {
    VotedRun r;
    ::testing::internal::CaptureStdout();
    run_v_train_ker(epochs, digit, set, set.columns, set.rows, r.mistakes, r.votes, r.n, r.error);
    r.out = ::testing::internal::GetCapturedStdout();
    return r;
}

std::pair<std::string, float> test(uint32_t digit, const SampleMatrix& ts, const SampleMatrix& tr,
                                   const VotedRun& trained) {
    float error = -7.0f;
    ::testing::internal::CaptureStdout();
    run_v_test_ker(digit, ts, ts.columns, ts.rows, tr, tr.columns, tr.rows,
                   trained.mistakes.data(), trained.votes.data(), trained.n, error);
    return {::testing::internal::GetCapturedStdout(), error};
}

// Row 1 is the only mistake; the vector it makes stays current and keeps
// counting into the second epoch.
SampleMatrix one_mistake_set() { return make_matrix(3, {1, 0, 1, 0, 1, 0, 1, 0, 1}); }

TEST(VotedTraining, SurvivalCountsCrossEpochs) {
    VotedRun r = train(2, 1, one_mistake_set());
    EXPECT_EQ(r.out,
              "ho fatto la 0-esima epoca, 1 errori, 2 right"
              "ho fatto la 1-esima epoca, 0 errori, 3 right");
    EXPECT_EQ(r.mistakes, std::vector<int32_t>{1});
    EXPECT_EQ(r.votes, std::vector<uint32_t>{5});
    EXPECT_EQ(r.n, 1u);
    EXPECT_EQ(r.error, 0.0f);
}

TEST(VotedTraining, RowMistakenInTwoEpochsHasItsOwnCounts) {
    SampleMatrix set = make_matrix(3, {1, 0, 1, 1, 0, 0});
    VotedRun r = train(2, 1, set);
    EXPECT_EQ(r.mistakes, (std::vector<int32_t>{1, 0, 1}));
    EXPECT_EQ(r.votes, (std::vector<uint32_t>{1, 1, 1}));
    EXPECT_EQ(r.n, 3u);
    EXPECT_EQ(r.error, 1.0f);
}

TEST(VotedTraining, ZeroEpochsAndAllTargetRows) {
    VotedRun none = train(0, 1, one_mistake_set());
    EXPECT_EQ(none.out, "");
    EXPECT_EQ(none.n, 0u);
    EXPECT_TRUE(none.mistakes.empty());
    EXPECT_TRUE(none.votes.empty());
    EXPECT_EQ(none.error, 0.0f);

    SampleMatrix targets = make_matrix(3, {1, 2, 7, -3, 0.5f, 7});
    VotedRun all = train(3, 7, targets);
    EXPECT_EQ(all.n, 0u);
    EXPECT_TRUE(all.mistakes.empty());
    EXPECT_EQ(all.error, 0.0f);
    auto [out, error] = test(7, one_mistake_set(), targets, all);
    EXPECT_EQ(out,
              "Ho classificato la cifra 7 e ho azzeccato 0 volte e sbagliato 3 volte, ho detto 0 "
              "volte meno e 3 volte piu'\n");
    EXPECT_EQ(error, 1.0f);
}

TEST(VotedTraining, EmptySetPrintsEveryEpoch) {
    VotedRun r = train(2, 1, make_matrix(3, {}));
    EXPECT_EQ(r.out, "ho fatto la 0-esima epoca, 0 errori, 0 right"
                     "ho fatto la 1-esima epoca, 0 errori, 0 right");
    EXPECT_TRUE(std::isnan(r.error));
}

TEST(VotedTesting, VotesBySignOfKernelTimesLabel) {
    SampleMatrix tr = one_mistake_set();
    VotedRun r = train(2, 1, tr);
    // Mistake: row 1 = (0, 1), label 0 (y = -1), vote 5.
    // (0, 1):  dot 1, kernel 8, times y < 0: votes -5 -> -1, right.
    // (0, -1): dot -1, kernel 0: subtracts -> -1, wrong (label 1).
    // (0, -3): dot -3, kernel -8, times y > 0: +5 -> +1, right.
    SampleMatrix ts = make_matrix(3, {0, 1, 0, 0, -1, 1, 0, -3, 1});
    auto [out, error] = test(1, ts, tr, r);
    EXPECT_EQ(out,
              "Ho classificato la cifra 1 e ho azzeccato 2 volte e sbagliato 1 volte, ho detto 2 "
              "volte meno e 1 volte piu'\n");
    EXPECT_EQ(error, 1.0f / 3.0f);
}

TEST(VotedTesting, ZeroVoteSumAnswersPlusOne) {
    VotedRun votes;
    votes.mistakes = {0, 1};
    votes.votes = {2, 2};
    votes.n = 2;
    // Two mistaken rows with opposite labels and the same features cancel.
    SampleMatrix tr = make_matrix(2, {1, 1, 1, 0});
    auto [out, error] = test(1, make_matrix(2, {1, 0}), tr, votes);
    EXPECT_EQ(out,
              "Ho classificato la cifra 1 e ho azzeccato 0 volte e sbagliato 1 volte, ho detto 0 "
              "volte meno e 1 volte piu'\n");
}

}  // namespace
