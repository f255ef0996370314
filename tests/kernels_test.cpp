// Vector products and kernels: the worked examples and the exact rounding.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "perceptron_lib.h"
#include "voted_lib_ker.h"

namespace {

std::string traced(uint32_t n, const float* x, const float* y, float& value, float degree) {
    ::testing::internal::CaptureStdout();
    ker_pol(n, x, y, value, degree);
    return ::testing::internal::GetCapturedStdout();
}

TEST(VectorProducts, EmptyVectors) {
    float a[] = {5};
    float value = 7;
    vect_pr(0, a, a, value);
    EXPECT_EQ(value, 0.0f);
    vect_diff_raised(0, a, a, value);
    EXPECT_EQ(value, 0.0f);
    ker_gauss(0, a, a, value, 3.0f);
    EXPECT_EQ(value, 1.0f);
    value = 0;
    EXPECT_EQ(traced(0, a, a, value, -3.5f), "Arg 0 nan nan 0.000000 -3.500000result vale 1.000000");
}

TEST(VectorProducts, DotProductRoundsToFloatAtEveryStep) {
    // (1 + 2^-12)^2 = 1 + 2^-11 + 2^-24 rounds to 1 + 2^-11 on the first step,
    // so the second step leaves exactly 2^-11.
    const float e = 1.0f + std::ldexp(1.0f, -12);
    float a[] = {e, 1.0f};
    float b[] = {e, -1.0f};
    float value = 0;
    vect_pr(2, a, b, value);
    EXPECT_EQ(value, std::ldexp(1.0f, -11));
}

TEST(VectorProducts, SquaredDistance) {
    float x[] = {0, 0, 9};
    float y[] = {1, 1, 3};
    float value = 0;
    vect_diff_raised(2, x, y, value);
    EXPECT_EQ(value, 2.0f);
}

TEST(Kernels, PolynomialWorkedExample) {
    float x[] = {1, 2, 0};
    float y[] = {3, 4, 0};
    float value = 0;
    EXPECT_EQ(traced(2, x, y, value, 2.0f), "Arg 2 nan nan 0.000000 2.000000result vale 144.000000");
    EXPECT_EQ(value, 144.0f);
    // The fourth traced value is what the result location held before.
    EXPECT_EQ(traced(2, x, y, value, 1.0f),
              "Arg 2 nan nan 144.000000 1.000000result vale 12.000000");
}

TEST(Kernels, PolynomialOfDotMinusOneIsZero) {
    float x[] = {1, -1, 0};
    float y[] = {-1, 0, 0};
    float value = 0;
    traced(2, x, y, value, 3.0f);
    EXPECT_EQ(value, 0.0f);
    traced(2, x, y, value, -1.0f);
    EXPECT_TRUE(std::isinf(value));
    float z[] = {-2, 0, 0};
    traced(2, x, z, value, 0.5f);  // negative base, fractional degree
    EXPECT_TRUE(std::isnan(value));
}

TEST(Kernels, PolynomialTraceShowsElement256OfFullRows) {
    std::vector<float> x(257, 0.0f), y(257, 0.0f);
    x[256] = 7;
    y[256] = 3;
    float value = 0;
    EXPECT_EQ(traced(256, x.data(), y.data(), value, 2.0f),
              "Arg 256 7.000000 3.000000 0.000000 2.000000result vale 1.000000");
}

TEST(Kernels, GaussianWorkedExampleAndConstantZero) {
    float x[] = {0, 0, 1};
    float y[] = {1, 1, 2};
    float value = 0;
    ker_gauss(2, x, y, value, 3.0f);
    EXPECT_EQ(value, std::exp(-2.0f / 3.0f));
    EXPECT_NEAR(value, 0.513417f, 1e-6f);
    ker_gauss(2, x, x, value, 3.0f);
    EXPECT_EQ(value, 1.0f);
    ker_gauss(2, x, y, value, 0.0f);
    EXPECT_EQ(value, 0.0f);
    ker_gauss(2, x, x, value, 0.0f);
    EXPECT_TRUE(std::isnan(value));
}

TEST(Kernels, VotedKernelRoundsEachProduct) {
    // The product is rounded to float before it is added: (1 + 2^-12)^2
    // becomes 1 + 2^-11, plus 1 gives 2 + 2^-11, cubed in float.
    const float e = 1.0f + std::ldexp(1.0f, -12);
    float a[] = {e};
    float value = 0;
    kernel_pol(1, a, a, value, 3);
    float base = 2.0f + std::ldexp(1.0f, -11);
    EXPECT_EQ(value, std::pow(base, 3.0f));
    float m[] = {-1.0f};
    float p[] = {1.0f};
    kernel_pol(1, m, p, value, 3);
    EXPECT_EQ(value, 0.0f);
}

}  // namespace
