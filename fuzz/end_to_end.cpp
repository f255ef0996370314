// Fuzz target: small sets through both methods, with the reference modules
// and with the engine, which must agree on mistakes, votes, errors (bit for
// bit) and stdout. Input: byte 0 the digit; byte 1 the epochs (bit 0), kernel
// parameter (bits 1-3), polynomial kernel (bit 4), no kernel cache (bit 5),
// widest vector level (bits 6-7); then the training set, and after a '|' the
// test set (else the training set again). Only sets of equal widths, 48 rows
// (12 for the polynomial kernel, whose trace pauses on stdin) and 64 numbers.
#include <bit>
#include <limits>
#include <vector>

#include "engine_settings.h"
#include "fast_perceptron.h"
#include "fast_voted.h"
#include "fuzz_support.h"
#include "voted_lib_ker.h"

namespace {

constexpr float kParameters[8] = {3.0f, 1.0f, 0.5f, 0.0f, -2.0f, 1e-30f, 1e30f, std::numeric_limits<float>::infinity()};
constexpr VectorLevel kLevels[4] = {VectorLevel::avx512, VectorLevel::avx2, VectorLevel::scalar, VectorLevel::scalar};

bool load(std::string_view name, std::string_view text, SampleMatrix& matrix, uint32_t max_rows) {
    const std::string path = fuzz::scratch_file(name, text);
    bool loaded = false;
    fuzz::capture([&] {
        Dims dims;
        loaded = line_counter(path.c_str(), dims) == 0 && dims.rows <= max_rows && dims.columns <= 64 &&
                 read_file(matrix, dims.columns, dims.rows, path.c_str()) == 0;
    });
    return loaded;
}

// What both methods gave: mistakes, votes, the errors' bits, the text printed.
struct Outcome {
    std::vector<int32_t> mistakes, voted_mistakes;
    std::vector<uint32_t> votes, errors;
    fuzz::Printed printed;
    bool operator==(const Outcome&) const = default;
};

Outcome both_methods(bool engine, uint32_t digit, uint32_t epochs, KernelSpec ker, const SampleMatrix& tr,
                     const SampleMatrix& ts, const EngineSettings& settings) {
    Outcome o;
    std::unique_ptr<IndexList> list;
    float error[4] = {-1.0f, -1.0f, -1.0f, -1.0f};
    uint32_t n = 0;
    o.printed = fuzz::capture([&] {
        const int trained = engine ? run_fast(epochs, digit, ker, list, tr, tr.columns, tr.rows, error[0], settings)
                                   : run(epochs, digit, ker, list, tr, tr.columns, tr.rows, error[0]);
        const int tested =
            engine ? run_test_fast(digit, ker, list.get(), tr, tr.columns, ts, ts.columns, ts.rows, error[1], settings)
                   : run_test(digit, ker, list.get(), tr, tr.columns, tr.rows, ts, ts.columns, ts.rows, error[1]);
        fuzz::check(trained == 0 && tested == 0, "the kernel perceptron trains and tests");
        (engine ? train_voted_fast : run_v_train_ker)(epochs, digit, tr, tr.columns, tr.rows, o.voted_mistakes, o.votes,
                                                      n, error[2]);
        if (engine) {
            run_v_test_fast(digit, ts, ts.columns, ts.rows, tr, o.voted_mistakes.data(), o.votes.data(), n, error[3],
                            settings);
        } else {
            run_v_test_ker(digit, ts, ts.columns, ts.rows, tr, tr.columns, tr.rows, o.voted_mistakes.data(),
                           o.votes.data(), n, error[3]);
        }
    });
    fuzz::check(n == o.voted_mistakes.size() && n == o.votes.size(), "the voted training counts its entries");
    o.mistakes = fuzz::entries_of(list);
    for (const float e : error) o.errors.push_back(std::bit_cast<uint32_t>(e));
    if (engine) {  // quiet, the engine trains the same, printing nothing and reading no input
        float quiet = -1.0f;
        const fuzz::Printed printed = fuzz::capture(
            [&] { run_fast(epochs, digit, ker, list, tr, tr.columns, tr.rows, quiet, settings, Report::silent); });
        fuzz::check(printed == fuzz::Printed{} && fuzz::entries_of(list) == o.mistakes &&
                        std::bit_cast<uint32_t>(quiet) == o.errors[0],
                    "quiet training trains the same silently");
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const uint32_t digit = data[0] % 10;
    const uint32_t epochs = 1 + (data[1] & 1);
    const KernelSpec ker{(data[1] & 0x10) != 0 ? KernelKind::polynomial : KernelKind::gaussian,
                         kParameters[(data[1] >> 1) % 8]};
    EngineSettings settings;
    settings.threads = 4;
    if ((data[1] & 0x20) != 0) settings.cache_bytes = 0;
    settings.widest = kLevels[data[1] >> 6];

    const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t bar = rest.find('|');
    const uint32_t max_rows = ker.kind == KernelKind::polynomial ? 12 : 48;
    SampleMatrix tr, ts;
    if (load("training", rest.substr(0, bar), tr, max_rows) &&
        load("test", bar == rest.npos ? rest : rest.substr(bar + 1), ts, max_rows) && tr.columns == ts.columns) {
        fuzz::check(both_methods(true, digit, epochs, ker, tr, ts, settings) ==
                        both_methods(false, digit, epochs, ker, tr, ts, settings),
                    "the engine trains and tests as the reference modules do");
    }
    return 0;
}
