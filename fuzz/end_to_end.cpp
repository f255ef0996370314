// Fuzz target: load two sample sets and train and test both methods on them.
//
// Input layout: byte 0 picks the digit (mod 10), byte 1 the epochs (1 or 2)
// and the gaussian constant (from a table that includes 0, a negative, a tiny,
// a huge and an infinite value); the rest is the training set up to the first
// '|' and the test set after it (no '|': the training set is tested too).
//
// When both sets load with equal widths and stay small (at most 48 rows and
// 64 numbers a row, so every input runs in milliseconds) this runs the gaussian
// kernel perceptron (run + run_test), saves and restores its mistake list and
// tests again with the restored copy, then runs the voted perceptron
// (run_v_train_ker + run_v_test_ker). All of it runs twice: with the fast
// engine (four threads) and with the reference arithmetic.
//
// Checks: every error is a fraction in [0, 1], the mistake lists name
// training rows only and hold at most one entry per row and epoch, the
// restored list tests exactly like the trained one, and the fast engine gives
// the reference's mistake lists, vote counts and errors bit for bit.
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "engine_settings.h"
#include "file_lib.h"
#include "fuzz_support.h"
#include "list_lib.h"
#include "perceptron_lib.h"
#include "voted_lib_ker.h"

namespace {

constexpr uint32_t kMaxRows = 48;
constexpr uint32_t kMaxColumns = 64;

constexpr float kConstants[8] = {3.0f, 1.0f, 0.5f, 0.0f, -2.0f, 1e-30f, 1e30f,
                                 std::numeric_limits<float>::infinity()};

bool load(const std::string& path, std::string_view text, SampleMatrix& matrix) {
    fuzz::write_file(path, text);
    Dims dims;
    if (line_counter(path.c_str(), dims) != 0) return false;
    if (dims.rows > kMaxRows || dims.columns > kMaxColumns) return false;
    if (read_file(matrix, dims.columns, dims.rows, path.c_str()) != 0) return false;
    FUZZ_CHECK(matrix.rows == dims.rows && matrix.columns == dims.columns);
    FUZZ_CHECK(matrix.values.size() == std::size_t(dims.rows) * dims.columns);
    return true;
}

bool fraction(float error) { return error >= 0.0f && error <= 1.0f; }

uint32_t bits(float value) {
    uint32_t word = 0;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

std::vector<int32_t> entries_of(const IndexList* list) {
    std::vector<int32_t> array;
    FUZZ_CHECK(read_list(array, list) == 0);
    return array;
}

void check_rows(const std::vector<int32_t>& indices, uint32_t rows, uint32_t epochs) {
    FUZZ_CHECK(indices.size() <= std::size_t(epochs) * rows);
    for (int32_t index : indices) FUZZ_CHECK(index >= 0 && static_cast<uint32_t>(index) < rows);
}

// Everything a run of both methods gives (errors as their bits).
struct Outcome {
    std::vector<int32_t> mistakes;
    uint32_t training_error = 0;
    uint32_t test_error = 0;
    std::vector<int32_t> voted_mistakes;
    std::vector<uint32_t> vote_counts;
    uint32_t voted_training_error = 0;
    uint32_t voted_test_error = 0;
};

Outcome train_and_test(uint32_t digit, uint32_t epochs, KernelSpec ker, const SampleMatrix& tr,
                       const SampleMatrix& ts, const std::string& list_path) {
    Outcome outcome;
    // The kernel perceptron with the gaussian kernel.
    std::unique_ptr<IndexList> head;
    float training_error = -1.0f;
    FUZZ_CHECK(run(epochs, digit, ker, head, tr, tr.columns, tr.rows, training_error) == 0);
    FUZZ_CHECK(head != nullptr);
    FUZZ_CHECK(fraction(training_error));
    outcome.mistakes = entries_of(head.get());
    check_rows(outcome.mistakes, tr.rows, epochs);
    float test_error = -1.0f;
    FUZZ_CHECK(run_test(digit, ker, head.get(), tr, tr.columns, tr.rows, ts, ts.columns, ts.rows,
                        test_error) == 0);
    FUZZ_CHECK(fraction(test_error));

    // Saved and restored, the list tests the same.
    FUZZ_CHECK(dump_file(head, list_path.c_str(), 0) == 0);
    std::unique_ptr<IndexList> restored;
    FUZZ_CHECK(restore_list(list_path.c_str(), restored) == 0);
    FUZZ_CHECK(entries_of(restored.get()) == outcome.mistakes);
    float restored_error = -1.0f;
    FUZZ_CHECK(run_test(digit, ker, restored.get(), tr, tr.columns, tr.rows, ts, ts.columns,
                        ts.rows, restored_error) == 0);
    FUZZ_CHECK(bits(restored_error) == bits(test_error));
    outcome.training_error = bits(training_error);
    outcome.test_error = bits(test_error);

    // The voted perceptron.
    uint32_t n = 0;
    float voted_training_error = -1.0f;
    run_v_train_ker(epochs, digit, tr, tr.columns, tr.rows, outcome.voted_mistakes,
                    outcome.vote_counts, n, voted_training_error);
    FUZZ_CHECK(fraction(voted_training_error));
    FUZZ_CHECK(n == outcome.voted_mistakes.size() && n == outcome.vote_counts.size());
    check_rows(outcome.voted_mistakes, tr.rows, epochs);
    float voted_test_error = -1.0f;
    run_v_test_ker(digit, ts, ts.columns, ts.rows, tr, tr.columns, tr.rows,
                   outcome.voted_mistakes.data(), outcome.vote_counts.data(), n, voted_test_error);
    FUZZ_CHECK(fraction(voted_test_error));
    outcome.voted_training_error = bits(voted_training_error);
    outcome.voted_test_error = bits(voted_test_error);
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::quiet_stdio();
    static const bool threads_set = (set_engine_threads(4), true);
    (void)threads_set;
    if (size < 2) return 0;
    const uint32_t digit = data[0] % 10;
    const uint32_t epochs = 1 + (data[1] & 1);
    const KernelSpec ker{1, kConstants[(data[1] >> 1) % 8]};
    std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::size_t bar = rest.find('|');
    std::string_view training_text = rest.substr(0, bar);
    std::string_view test_text = bar == std::string_view::npos ? rest : rest.substr(bar + 1);

    static const std::string training_path = fuzz::scratch_path("training");
    static const std::string test_path = fuzz::scratch_path("test");
    static const std::string list_path = fuzz::scratch_path("list");
    set_fast_engine(true);
    SampleMatrix tr;
    SampleMatrix ts;
    if (!load(training_path, training_text, tr) || !load(test_path, test_text, ts)) return 0;
    if (tr.columns != ts.columns) return 0;

    const Outcome fast = train_and_test(digit, epochs, ker, tr, ts, list_path);
    set_fast_engine(false);
    const Outcome reference = train_and_test(digit, epochs, ker, tr, ts, list_path);
    set_fast_engine(true);
    FUZZ_CHECK(fast.mistakes == reference.mistakes);
    FUZZ_CHECK(fast.training_error == reference.training_error);
    FUZZ_CHECK(fast.test_error == reference.test_error);
    FUZZ_CHECK(fast.voted_mistakes == reference.voted_mistakes);
    FUZZ_CHECK(fast.vote_counts == reference.vote_counts);
    FUZZ_CHECK(fast.voted_training_error == reference.voted_training_error);
    FUZZ_CHECK(fast.voted_test_error == reference.voted_test_error);
    return 0;
}
