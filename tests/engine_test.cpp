// The fast engine against the reference modules: batch kernels at every
// vector level against the scalar formulas, bit for bit, on random data with
// special values; the PROGRAMMA_VECTOR cap; whole trainings and tests; the
// loader against the plain one; the number reader against strtof; the
// formatter against printf; and when the polynomial trace may wait for
// standard input.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <unistd.h>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

#include "batch_exp.h"
#include "decimal_scan.h"
#include "engine_settings.h"
#include "fast_perceptron.h"
#include "fast_voted.h"
#include "kernel_engine.h"
#include "number_format.h"
#include "polynomial_trace.h"
#include "processor_probe.h"
#include "random_samples.h"
#include "sample_loader.h"
#include "sample_text.h"
#include "support.h"
#include "voted_lib_ker.h"

namespace {

// The settings each test hands the engine, changed case by case.
class Engine : public ::testing::Test {
protected:
    EngineSettings settings;
};

TEST_F(Engine, BatchKernelsMatchTheScalarFormulasAtEveryLevel) {
    std::mt19937 random(2024);
    using Formula = int (*)(uint32_t, const float*, const float*, float&);
    const std::pair<BatchKind, Formula> kinds[] = {{BatchKind::dot_exact, vect_pr},
                                                   {BatchKind::squared_distance, vect_diff_raised},
                                                   {BatchKind::dot_float, vect_pr_float}};
    for (VectorLevel level : {VectorLevel::avx512, VectorLevel::avx2, VectorLevel::scalar}) {
        settings.widest = level;
        for (int round = 0; round < 300; ++round) {
            const uint32_t features = random() % 300, count = 1 + random() % 40;
            const bool specials = round % 3 == 0;
            std::vector<std::vector<float>> rows(count, std::vector<float>(features));
            PackedRows packed;
            pack_reset(packed, features, usable_vector_level(settings));
            for (auto& row : rows) {  // every sixth round: NaNs in the samples alone
                for (float& v : row) v = awkward_value(random, specials && round % 2 == 0);
                pack_append(packed, row.data());
            }
            // A group of samples takes the four-, two- and one-sample paths.
            const std::size_t group = 1 + random() % 7;
            std::vector<std::vector<float>> x(group, std::vector<float>(features));
            std::vector<const float*> xs;
            for (auto& sample : x) {
                for (float& v : sample) v = awkward_value(random, specials);
                xs.push_back(sample.data());
            }
            const uint32_t first = random() % packed.blocks();
            for (const auto& [kind, formula] : kinds) {
                std::vector<std::vector<float>> got(group, std::vector<float>((packed.blocks() - first) * kLanes));
                std::vector<float*> out;
                for (auto& values : got) out.push_back(values.data());
                batch_values(kind, xs.data(), out.data(), group, packed, first, packed.blocks());
                // The tiled form, indexed by slot, gives the same values.
                std::vector<std::vector<float>> tiled_out(group, std::vector<float>(count));
                std::vector<TiledSample> tiled;
                for (std::size_t k = 0; k < group; ++k) tiled.push_back({xs[k], first * kLanes, tiled_out[k].data()});
                batch_tiled(kind, packed, tiled.data(), group, count);
                for (std::size_t k = 0; k < group; ++k) {
                    for (uint32_t s = first * kLanes; s < count; ++s) {
                        float want = 0;
                        formula(features, xs[k], rows[s].data(), want);
                        for (const float have : {got[k][s - first * kLanes], tiled_out[k][s]}) {
                            // The voted test only asks whether its float sum is NaN.
                            const bool same = kind == BatchKind::dot_float && std::isnan(want) ? std::isnan(have)
                                                                                               : same_bits(want, have);
                            ASSERT_TRUE(same)
                                << "kind " << int(kind) << " round " << round << ' ' << vector_level_name(level);
                        }
                    }
                }
            }
        }
    }
}

// Every stride-th float bit pattern as a distance, through the batch
// gaussian step and the scalar one, for several constants.
void expect_gaussian_batch_matches(uint64_t stride, std::initializer_list<float> constants, VectorLevel level) {
    std::vector<float> distances, got;
    for (uint64_t bits = 0; bits < (uint64_t(1) << 32); bits += stride) {
        distances.push_back(std::bit_cast<float>(uint32_t(bits)));
    }
    for (float c : constants) {
        got = distances;
        gaussian_of_distances(got.data(), got.size(), c, level);
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_TRUE(same_bits(got[i], gaussian_of_distance(distances[i], c)))
                << "distance bits " << std::bit_cast<uint32_t>(distances[i]) << ", constant " << c;
        }
    }
}

TEST_F(Engine, BatchGaussianStepMatchesTheScalarFormula) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (VectorLevel level : {VectorLevel::avx512, VectorLevel::scalar}) {
        settings.widest = level;
        expect_gaussian_batch_matches(4099, {3.0f, 1.0f, -1.0f, 0.37f, -2.5f, 0.0f, -0.0f, inf, -nan, 1e-30f, 7e30f},
                                      usable_vector_level(settings));
    }
}

// With constant -1 the quotient is the distance itself: exp of every float.
// About a minute; run it when the vector exp changes (--gtest_also_run_disabled_tests).
TEST_F(Engine, DISABLED_BatchGaussianStepMatchesForEveryFloat) {
    expect_gaussian_batch_matches(1, {-1.0f}, usable_vector_level(settings));
}

// PROGRAMMA_VECTOR caps the processor's level for every fast path (the
// vector exp and the short-decimal scanner included); a value that names no
// level leaves the processor's own.
TEST_F(Engine, VectorSettingCapsEveryFastPath) {
    const std::pair<const char*, VectorLevel> named[] = {{"scalar", VectorLevel::scalar}, {"avx2", VectorLevel::avx2},
                                                         {"avx512", VectorLevel::avx512}, {"AVX2", VectorLevel::avx512},
                                                         {"sse", VectorLevel::avx512},    {"", VectorLevel::avx512}};
    const char number[32] = "0.5 1\n";
    for (const auto& [text, cap] : named) {
        ::setenv("PROGRAMMA_VECTOR", text, 1);
        settings = programma::options_from_environment();
        const VectorLevel level = std::min(processor_abilities().widest, cap);
        EXPECT_EQ(settings.widest, cap) << text;
        EXPECT_EQ(usable_vector_level(settings), level) << text;
        EXPECT_EQ(batch_exp_vectorised(usable_vector_level(settings)), level == VectorLevel::avx512) << text;
        // Every processor with AVX2 has the scanner's SSE4.1.
        float value = 0;
        const int length = scan_short_decimal(number, value, settings);
        EXPECT_TRUE(cap != VectorLevel::scalar || length == 0);
        EXPECT_TRUE(level == VectorLevel::scalar || (length == 3 && value == 0.5f)) << text;
    }
    ::unsetenv("PROGRAMMA_VECTOR");
}

// PROGRAMMA_THREADS and PROGRAMMA_CACHE_MB take plain decimal numbers in
// range; a sign, garbage, or a value out of range leaves the default.
TEST_F(Engine, EnvironmentNumbersOutOfRangeAreIgnored) {
    ::unsetenv("PROGRAMMA_THREADS");
    ::unsetenv("PROGRAMMA_CACHE_MB");
    const EngineSettings defaults = programma::options_from_environment();
    for (const char* text : {"-1", "abc", " 3", "3x", "+3", "99999999999999999999", "", "0", "1025"}) {
        ::setenv("PROGRAMMA_THREADS", text, 1);
        // 2^44 MiB is 2^64 bytes, which would wrap around.
        ::setenv("PROGRAMMA_CACHE_MB", text[0] >= '0' && text[0] <= '9' ? "17592186044416" : text, 1);
        const EngineSettings read = programma::options_from_environment();
        EXPECT_EQ(read.threads, defaults.threads) << text;
        EXPECT_EQ(read.cache_bytes, defaults.cache_bytes) << text;
    }
    ::setenv("PROGRAMMA_THREADS", "1024", 1);
    ::setenv("PROGRAMMA_CACHE_MB", "5", 1);
    EXPECT_EQ(programma::options_from_environment().threads, 1024u);
    EXPECT_EQ(programma::options_from_environment().cache_bytes, std::size_t(5) << 20);
    ::unsetenv("PROGRAMMA_THREADS");
    ::unsetenv("PROGRAMMA_CACHE_MB");
}

struct Outcome {
    std::string out;
    std::vector<int32_t> list;
    float training_error = 0;
    float test_error = 0;
    bool operator==(const Outcome& o) const {
        return out == o.out && list == o.list && same_bits(training_error, o.training_error) &&
               same_bits(test_error, o.test_error);
    }
};

Outcome kernel_run(bool fast, KernelSpec ker, uint32_t epochs, const SampleMatrix& tr, const SampleMatrix& ts,
                   const EngineSettings& settings) {
    Outcome o;
    std::unique_ptr<IndexList> list;
    o.out = stdout_of([&] {
        if (fast) {
            run_fast(epochs, 1, ker, list, tr, tr.columns, tr.rows, o.training_error, settings);
            run_test_fast(1, ker, list.get(), tr, tr.columns, ts, ts.columns, ts.rows, o.test_error, settings);
        } else {
            run(epochs, 1, ker, list, tr, tr.columns, tr.rows, o.training_error);
            run_test(1, ker, list.get(), tr, tr.columns, tr.rows, ts, ts.columns, ts.rows, o.test_error);
        }
    });
    read_list(o.list, list.get());
    return o;
}

// The voted method, trained and tested; the list holds its mistakes.
Outcome voted_run(bool fast, uint32_t epochs, const SampleMatrix& tr, const SampleMatrix& ts,
                  const EngineSettings& settings) {
    Outcome o;
    std::vector<uint32_t> votes;
    uint32_t n = 0;
    o.out = stdout_of([&] {
        (fast ? train_voted_fast : run_v_train_ker)(epochs, 1, tr, tr.columns, tr.rows, o.list, votes, n,
                                                    o.training_error);
        if (fast) {
            run_v_test_fast(1, ts, ts.columns, ts.rows, tr, o.list.data(), votes.data(), n, o.test_error, settings);
        } else {
            run_v_test_ker(1, ts, ts.columns, ts.rows, tr, tr.columns, tr.rows, o.list.data(), votes.data(), n,
                           o.test_error);
        }
    });
    return o;
}

// The decision sums of run_test, computed with the scalar kernels.
float reference_sum(KernelSpec ker, const std::vector<int32_t>& list, const SampleMatrix& tr, const float* x) {
    float sum = 0.0f;
    for (int32_t index : list) {
        const float* row = tr.row(uint32_t(index));
        float dot = 0;
        (ker.kind == KernelKind::polynomial ? vect_pr : vect_diff_raised)(tr.columns - 1, x, row, dot);
        const float value = ker.kind == KernelKind::polynomial ? polynomial_of_dot(dot, ker.parameter)
                                                               : gaussian_of_distance(dot, ker.parameter);
        sum = sum + float(target_label(row[tr.columns - 1], 1)) * value;
    }
    return sum;
}

TEST_F(Engine, KernelPerceptronMatchesTheReference) {
    std::mt19937 random(7);
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        const uint32_t features = round % 4 == 0 ? 256 : 1 + random() % 40;
        const bool specials = round % 5 == 1;
        const SampleMatrix tr = random_set(random, 40 + random() % 160, features, specials, 0.3f);
        const SampleMatrix ts = random_set(random, 30 + random() % 60, features, specials, 0.3f);
        const KernelSpec ker = round % 2 == 0 ? KernelSpec{KernelKind::gaussian, 0.5f + float(random() % 4)}
                                              : KernelSpec{KernelKind::polynomial, float(random() % 4) - 0.5f};
        const uint32_t epochs = random() % 4;
        settings.threads = 1 + round % 3;
        settings.cache_bytes = round % 6 == 5 ? random() % 4096 : EngineSettings{}.cache_bytes;
        const Outcome reference = kernel_run(false, ker, epochs, tr, ts, settings);
        EXPECT_TRUE(kernel_run(true, ker, epochs, tr, ts, settings) == reference);
        // Quiet training gives the same list; the sums are classify's.
        std::unique_ptr<IndexList> quiet;
        float error = 0;
        EXPECT_EQ(stdout_of([&] {
                      run_fast(epochs, 1, ker, quiet, tr, tr.columns, tr.rows, error, settings, Report::silent);
                  }),
                  "");
        std::vector<int32_t> entries;
        read_list(entries, quiet.get());
        EXPECT_EQ(entries, reference.list);
        const std::vector<float> sums = decision_sums(ker, 1, *quiet, tr, ts, settings);
        for (uint32_t r = 0; r < ts.rows; ++r) {
            const float want = reference_sum(ker, entries, tr, ts.row(r));
            EXPECT_TRUE(same_bits(sums[r], want) || (std::isnan(want) && std::isnan(sums[r])));
        }
    }
}

TEST_F(Engine, LongTrainingMatchesAtAnyThreadCountAndBudget) {
    // Noisy labels and a narrow gaussian: over a thousand distinct mistakes,
    // many cache chunks, and mistakes inside most training tiles.
    std::mt19937 random(11);
    for (const KernelSpec ker : {KernelSpec{KernelKind::gaussian, 0.0005f}, KernelSpec{KernelKind::polynomial, 3.0f}}) {
        // The traced polynomial run prints every evaluation: fewer rows.
        const SampleMatrix tr = random_set(random, ker.kind == KernelKind::polynomial ? 1200 : 5000, 12, false, 0.05f);
        const SampleMatrix ts = random_set(random, 300, 12, false, 0.05f);
        const Outcome reference = kernel_run(false, ker, 2, tr, ts, settings);
        ASSERT_GT(reference.list.size(), 300u);
        for (unsigned threads : {1u, 2u, 4u}) {
            settings.threads = threads;
            settings.cache_bytes = threads == 4 ? 64 << 10 : EngineSettings{}.cache_bytes;
            // Huge pages refused, as on a system that has them off: the
            // engine's large blocks are plain pages, the runs the same.
            const bool refused = threads == 2 && ::prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) == 0;
            EXPECT_TRUE(kernel_run(true, ker, 2, tr, ts, settings) == reference) << threads;
            if (refused) ::prctl(PR_SET_THP_DISABLE, 0, 0, 0, 0);
        }
    }
}

TEST_F(Engine, VotedMethodMatchesTheReference) {
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        const uint32_t features = 1 + random() % 30;
        // Small centred values keep dot products near -1, where the votes'
        // signs change; some rounds add special values.
        const float scale = round % 2 == 0 ? 0.2f : 0.05f;
        SampleMatrix tr = random_set(random, 50 + random() % 200, features, round % 4 == 3, scale);
        SampleMatrix ts = random_set(random, 50 + random() % 100, features, round % 4 == 3, scale);
        if (round % 5 == 0) {  // a base of exactly 0 (dot product -1) votes against
            std::fill(ts.row(0), ts.row(0) + features, 0.0f);
            std::fill(tr.row(0), tr.row(0) + features, 0.0f);
            ts.row(0)[0] = -1.0f;
            for (uint32_t r = 0; r < tr.rows; ++r) tr.row(r)[0] = 1.0f;
        }
        settings.threads = 1 + round % 3;
        EXPECT_TRUE(voted_run(true, round % 3, tr, ts, settings) == voted_run(false, round % 3, tr, ts, settings));
    }
}

struct Loaded {
    int status = -1;
    Dims dims;
    SampleMatrix set;
    std::string out, err;
};

Loaded load(bool fast, const std::string& path, const EngineSettings& settings) {
    Loaded l;
    MeasuredFile measured;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    l.status = fast ? measure_samples(path.c_str(), l.dims, measured, settings) : line_counter(path.c_str(), l.dims);
    if (l.status == 0) {
        l.status = fast ? load_samples(l.set, l.dims.columns, l.dims.rows, path.c_str(), measured, settings)
                        : read_file(l.set, l.dims.columns, l.dims.rows, path.c_str());
    }
    l.out = ::testing::internal::GetCapturedStdout();
    l.err = ::testing::internal::GetCapturedStderr();
    return l;
}

// Random sample text: numbers of many spellings, every separator, blank and
// long lines, and now and then a bad token or a ragged line.
std::string random_text(std::mt19937& random, std::size_t lines, uint32_t columns, bool faults) {
    static const char* const kSpellings[] = {
        "-1", "0",   "1",    "0.5",    "-0.99967986", "3.4028235e38", "1e-45",
        "+2", "nan", "-inf", "0x1p-3", "7.",          ".25",          "123456789012345678"};
    static const char* const kSeparators[] = {" ", "  ", "\t", " \r", "\v", "\f"};
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::string text;
    char number[32];
    for (std::size_t line = 0; line < lines; ++line) {
        if (random() % 50 == 0) text += random() % 2 ? "\n" : " \t\n";
        const uint32_t count = faults && random() % 400 == 0 ? columns + 1 : columns;
        for (uint32_t c = 0; c < count; ++c) {
            if (c > 0 || random() % 20 == 0) text += kSeparators[random() % 6];
            if (random() % 3 == 0) {
                text += kSpellings[random() % 14];
            } else {
                std::snprintf(number, sizeof number, "%.*g", int(1 + random() % 9), double(unit(random)));
                text += number;
            }
            if (faults && random() % 5000 == 0) text += "x";
        }
        text += random() % 10 == 0 ? "\r\n" : "\n";
    }
    if (random() % 2) text.pop_back();  // the last line without its newline
    return text;
}

TEST_F(Engine, LoaderMatchesThePlainLoader) {
    std::mt19937 random(17);
    TempDir dir;
    const std::string path = dir.file("set");
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        // Files from 1 MiB are read in parts; lines past 512 KiB outgrow a
        // part's buffer.
        const uint32_t columns = round % 6 == 0 ? 120000 : 1 + random() % 300;
        const std::size_t lines = round % 6 == 0 ? 3 : round % 4 == 0 ? 300000 / columns + 100 : 1 + random() % 200;
        write_text(path, random_text(random, lines, columns, round % 3 == 0));
        settings.threads = 1 + round % 4;
        const Loaded plain = load(false, path, settings), fast = load(true, path, settings);
        EXPECT_EQ(fast.status, plain.status);
        EXPECT_EQ(fast.out, plain.out);
        EXPECT_EQ(fast.err, plain.err);
        if (plain.status != 0) continue;
        ASSERT_EQ(fast.set.values.size(), plain.set.values.size());
        for (std::size_t i = 0; i < plain.set.values.size(); ++i) {
            ASSERT_TRUE(same_bits(fast.set.values[i], plain.set.values[i])) << i;
        }
    }
}

TEST(NumberReader, ReadsAsStrtofDoes) {
    std::mt19937 random(23);
    std::vector<std::string> tokens = {"0",
                                       "-0",
                                       "1e39",
                                       "-1e-50",
                                       "nan(12)",
                                       "+.5",
                                       "0X1P3",
                                       "inf",
                                       "1e",
                                       "--1",
                                       ".",
                                       "4.0000001",
                                       "0.1000000000000000055511151231257827"};
    for (int i = 0; i < 200000; ++i) {
        char text[48];
        const uint32_t bits = random();
        // Midpoints between floats, short decimals and arbitrary floats.
        const double value = i % 3 == 0 ? (double(std::bit_cast<float>(bits & 0x7f7fffff)) +
                                           double(std::nextafter(std::bit_cast<float>(bits & 0x7f7fffff), 1e38f))) /
                                              2
                                        : double(std::bit_cast<float>(bits));
        std::snprintf(text, sizeof text, i % 3 == 1 ? "%.*f" : "%.*g", int(random() % 17), value);
        tokens.push_back(text);
    }
    for (const std::string& token : tokens) {
        std::string line = token + "\n" + std::string(64, '\0');
        float want = 0, got = 0;
        const bool number = read_number_strtof(token, want);
        const char* stop =
            read_number_fast(line.data(), line.data() + token.size(), line.data() + line.size(), got, EngineSettings{});
        ASSERT_EQ(stop != nullptr, number) << token;
        if (number) {
            ASSERT_TRUE(same_bits(got, want)) << token;
        }
    }
}

TEST(Formatter, WritesWhatPrintfWrites) {
    std::mt19937 random(99);
    char ours[kFixed6Max + 1], theirs[kFixed6Max + 1];
    const auto check = [&](double value) {
        ours[format_fixed6(value, ours)] = '\0';
        std::snprintf(theirs, sizeof theirs, "%f", value);
        ASSERT_STREQ(ours, theirs) << value;
    };
    for (double value : {0.0, -0.0, 5e-7, 1.5e-6, 2.5e-6, -5e-7, 1e300, 17592186044416.0, 17592186044415.75, 5e-324}) {
        check(value);
    }
    for (int k = 0; k < 100000; ++k) check((k + 0.5) / 1e6);  // ties at the sixth decimal
    std::uniform_real_distribution<float> wide(-2e7f, 2e7f);
    for (int i = 0; i < 300000; ++i) {
        check(std::bit_cast<float>(uint32_t(random())));
        check(wide(random));
    }
    char digits[16];
    for (uint32_t value : {0u, 9u, 10u, 99u, 100u, 4294967295u}) {
        EXPECT_EQ(std::string(digits, format_unsigned(value, digits)), std::to_string(value));
    }
}

TEST(PolynomialTrace, WaitsOnlyWhenStandardInputCould) {
    const int saved_stdin = ::dup(0);
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::dup2(pipe_ends[0], 0);
    std::clearerr(stdin);
    EXPECT_TRUE(stdin_read_may_wait());  // an open, empty pipe
    ASSERT_EQ(::write(pipe_ends[1], "x", 1), 1);
    EXPECT_FALSE(stdin_read_may_wait());
    EXPECT_EQ(std::getchar(), 'x');
    ::close(pipe_ends[1]);
    EXPECT_FALSE(stdin_read_may_wait());  // the writer has gone: the read ends at once
    EXPECT_EQ(std::getchar(), EOF);
    EXPECT_FALSE(stdin_read_may_wait());
    ::dup2(saved_stdin, 0);
    ::close(saved_stdin);
    ::close(pipe_ends[0]);
    std::clearerr(stdin);
}

}  // namespace
