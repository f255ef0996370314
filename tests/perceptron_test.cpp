// Kernel perceptron decisions, training and testing on hand-made sets whose
// mistake lists can be worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "matrices.h"
#include "perceptron_lib.h"

namespace {

const KernelSpec kGauss1{1, 1.0f};

std::vector<int32_t> entries(const IndexList& list) {
    std::vector<int32_t> array;
    read_list(array, &list);
    return array;
}

struct Trained {
    int status = -1;
    std::unique_ptr<IndexList> list;
    float error = -7.0f;
    std::string out;
};

Trained train(uint32_t epochs, uint32_t digit, KernelSpec ker, const SampleMatrix& set) {
    Trained t;
    ::testing::internal::CaptureStdout();
    t.status = run(epochs, digit, ker, t.list, set, set.columns, set.rows, t.error);
    t.out = ::testing::internal::GetCapturedStdout();
    return t;
}

struct Tested {
    int status = -1;
    float error = -7.0f;
    std::string out;
};

Tested test(uint32_t digit, KernelSpec ker, const IndexList* list, const SampleMatrix& tr,
            const SampleMatrix& ts) {
    Tested t;
    ::testing::internal::CaptureStdout();
    t.status = run_test(digit, ker, list, tr, tr.columns, tr.rows, ts, ts.columns, ts.rows, t.error);
    t.out = ::testing::internal::GetCapturedStdout();
    return t;
}

TEST(TargetLabel, ComparesAsReals) {
    EXPECT_EQ(target_label(3.0f, 3), 1);
    EXPECT_EQ(target_label(3.5f, 3), -1);
    EXPECT_EQ(target_label(std::numeric_limits<float>::quiet_NaN(), 3), -1);
    EXPECT_EQ(target_label(-0.0f, 0), 1);
}

TEST(Classify, EmptyZeroAndNanSumsAnswerPlusOne) {
    SampleMatrix set = make_matrix(2, {0, 1, 0, 0});
    int32_t answer = 0;
    classify(kGauss1, 1, set.row(0), set, 2, 2, nullptr, 0, answer);
    EXPECT_EQ(answer, 1);
    // Equal and opposite terms sum to exactly 0.
    const int32_t both[] = {0, 1};
    classify(kGauss1, 1, set.row(0), set, 2, 2, both, 2, answer);
    EXPECT_EQ(answer, 1);
    const int32_t negative[] = {1};
    classify(kGauss1, 1, set.row(0), set, 2, 2, negative, 1, answer);
    EXPECT_EQ(answer, -1);
    // Constant 0 on equal rows gives NaN, which answers +1.
    classify(KernelSpec{1, 0.0f}, 1, set.row(0), set, 2, 2, negative, 1, answer);
    EXPECT_EQ(answer, 1);
}

// Two well separated clusters: the first two rows are mistakes, the
// second epoch makes none.
SampleMatrix two_clusters() { return make_matrix(2, {0, 0, 5, 1, 0.1f, 0, 5.1f, 1}); }

TEST(Training, OnlineUpdateOnTwoClusters) {
    Trained t = train(2, 1, kGauss1, two_clusters());
    ASSERT_EQ(t.status, 0);
    EXPECT_EQ(entries(*t.list), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(t.out,
              "I classified 2 times 1 e 2 times -1\n"
              "I classified 2 times 1 e 2 times -1\n");
    EXPECT_EQ(t.error, 0.0f);
}

TEST(Training, RowMistakenInTwoEpochsCountsTwice) {
    // The same features with different labels can never both be right.
    SampleMatrix set = make_matrix(2, {0, 1, 0, 0});
    Trained t = train(2, 1, kGauss1, set);
    EXPECT_EQ(entries(*t.list), (std::vector<int32_t>{1, 0, 1}));
    EXPECT_EQ(t.out,
              "I classified 2 times 1 e 0 times -1\n"
              "I classified 1 times 1 e 1 times -1\n");
    EXPECT_EQ(t.error, 1.0f);  // the last epoch only: 2 of 2
    // Row 1 weighs twice: a sample like row 0 is now answered -1.
    Tested r = test(1, kGauss1, t.list.get(), set, make_matrix(2, {0, 0}));
    EXPECT_EQ(r.out,
              "I classified 0 times 1 e 1 times -1\n"
              "I was wrong 0 times saying 1 e 0 times saying -1\n");
    EXPECT_EQ(r.error, 0.0f);
}

TEST(Training, ErrorCountsTheLastEpochOnly) {
    Trained one = train(1, 1, kGauss1, two_clusters());
    EXPECT_EQ(one.error, 0.5f);
    Trained zero = train(0, 1, kGauss1, two_clusters());
    EXPECT_EQ(zero.status, 0);
    EXPECT_EQ(zero.out, "");
    EXPECT_EQ(zero.error, 0.0f);
    ASSERT_TRUE(zero.list);
    EXPECT_EQ(zero.list->count, 0u);
}

TEST(Training, AllTargetRowsLeaveTheListEmpty) {
    SampleMatrix set = make_matrix(2, {0, 4, 1, 4, 2, 4});
    Trained t = train(2, 4, kGauss1, set);
    EXPECT_EQ(t.list->count, 0u);
    EXPECT_EQ(t.out, "I classified 3 times 1 e 0 times -1\nI classified 3 times 1 e 0 times -1\n");
    EXPECT_EQ(t.error, 0.0f);
}

TEST(Training, EmptySetGivesNotANumber) {
    SampleMatrix set = make_matrix(2, {});
    Trained t = train(1, 1, kGauss1, set);
    EXPECT_EQ(t.out, "I classified 0 times 1 e 0 times -1\n");
    EXPECT_TRUE(std::isnan(t.error));
}

TEST(Training, PolynomialTracesEveryEvaluationBeforeTheCountLine) {
    // Row 0 is answered +1 with no evaluation; row 1 is decided against row 0.
    SampleMatrix set = make_matrix(2, {1, 0, 2, 1});
    Trained t = train(1, 1, KernelSpec{0, 2.0f}, set);
    EXPECT_EQ(t.out,
              "Arg 1 nan nan 0.000000 2.000000result vale 9.000000"
              "I classified 1 times 1 e 1 times -1\n");
    EXPECT_EQ(entries(*t.list), (std::vector<int32_t>{0, 1}));
}

TEST(Testing, CountsAndErrorOverTheTestRows) {
    Trained t = train(2, 1, kGauss1, two_clusters());
    SampleMatrix ts = make_matrix(2, {0.2f, 0, 4.9f, 1, 0, 1});
    Tested r = test(1, kGauss1, t.list.get(), two_clusters(), ts);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "I classified 1 times 1 e 2 times -1\n"
              "I was wrong 0 times saying 1 e 1 times saying -1\n");
    EXPECT_EQ(r.error, 1.0f / 3.0f);
}

TEST(Testing, EmptyListAnswersPlusOneForEveryRow) {
    std::unique_ptr<IndexList> empty;
    create_list(empty);
    std::vector<float> values;
    for (int i = 0; i < 200; ++i) {
        values.push_back(0.0f);
        values.push_back(i < 5 ? 2.0f : 1.0f);
    }
    SampleMatrix ts = make_matrix(2, values);
    Tested r = test(1, kGauss1, empty.get(), two_clusters(), ts);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "I classified 200 times 1 e 0 times -1\n"
              "I was wrong 5 times saying 1 e 0 times saying -1\n");
    EXPECT_EQ(r.error, 0.025f);
    Tested none = test(1, kGauss1, nullptr, two_clusters(), ts);
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "");
}

TEST(Testing, EmptyTestSetPrintsZeros) {
    Trained t = train(2, 1, kGauss1, two_clusters());
    Tested r = test(1, kGauss1, t.list.get(), two_clusters(), make_matrix(2, {}));
    EXPECT_EQ(r.out, "I classified 0 times 1 e 0 times -1\nI was wrong 0 times saying 1 e 0 times saying -1\n");
    EXPECT_TRUE(std::isnan(r.error));
}

}  // namespace
