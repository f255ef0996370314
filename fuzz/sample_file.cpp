// Fuzz target: measuring and loading a sample-set file. The engine's loader
// (measure_samples + load_samples) must give what the reference loader
// (line_counter + read_file) gives, and both what a tiny independent reading
// of the text with strtof gives: the same statuses, dims, floats bit for bit,
// and printed text. One input in 256 is first copied into a file of 1 MiB
// or more, which the engine cuts into parts at line ends, one a thread.
#include <bit>
#include <cstdlib>
#include <vector>

#include "engine_settings.h"
#include "file_lib.h"
#include "fuzz_support.h"
#include "sample_loader.h"
#include "sample_text.h"

namespace {

// Everything a measure and load give (-1: not tried).
struct Load {
    int measured = -1, loaded = -1;
    uint32_t columns = 0, rows = 0;
    std::vector<uint32_t> bits;  // the values' bits
    fuzz::Printed printed;
    bool operator==(const Load&) const = default;
};

// Measures and loads `path` with the engine's loader or the reference one.
Load load(bool engine, const std::string& path, const EngineSettings& settings = {}) {
    Load result;
    result.printed = fuzz::capture([&] {
        Dims dims;
        MeasuredFile measured;
        result.measured =
            engine ? measure_samples(path.c_str(), dims, measured, settings) : line_counter(path.c_str(), dims);
        if (result.measured != 0) return;
        result.columns = dims.columns;
        result.rows = dims.rows;
        SampleMatrix matrix;
        result.loaded = engine ? load_samples(matrix, dims.columns, dims.rows, path.c_str(), measured, settings)
                               : read_file(matrix, dims.columns, dims.rows, path.c_str());
        if (result.loaded != 0) return;
        fuzz::check(matrix.rows == dims.rows && matrix.columns == dims.columns &&
                        matrix.values.size() == std::size_t(dims.rows) * dims.columns,
                    "a loaded matrix has the measured size");
        for (const float value : matrix.values) result.bits.push_back(std::bit_cast<uint32_t>(value));
    });
    return result;
}

// What a correct load of `text` gives: each line holding a token is a sample,
// as wide as the first; every token up to that width must be wholly a number
// to strtof; the first bad line is reported with its number.
Load expected(std::string_view text, const std::string& path) {
    constexpr std::string_view kBlanks = " \t\r\v\f";
    Load e;
    std::string problem;
    std::size_t number = 0;
    for (std::size_t start = 0, end = 0; start < text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        std::vector<std::string_view> tokens;
        for (std::size_t at = line.find_first_not_of(kBlanks); at != line.npos;) {
            tokens.push_back(line.substr(at, line.find_first_of(kBlanks, at) - at));
            at = line.find_first_not_of(kBlanks, at + tokens.back().size());
        }
        ++number;
        if (tokens.empty()) continue;
        if (e.rows++ == 0) e.columns = uint32_t(tokens.size());
        for (std::size_t i = 0; i < tokens.size() && i < e.columns && problem.empty(); ++i) {
            const std::string token(tokens[i]);
            char* stop = nullptr;
            e.bits.push_back(std::bit_cast<uint32_t>(std::strtof(token.c_str(), &stop)));
            if (stop != token.c_str() + token.size()) problem = not_a_number(tokens[i]);
        }
        if (problem.empty() && tokens.size() != e.columns) problem = wrong_count(tokens.size(), e.columns);
        if (!problem.empty() && e.printed.err.empty()) {
            e.printed.err = "programma: " + path + ":" + std::to_string(number) + ": " + problem + "\n";
        }
    }
    e.measured = e.rows == 0 ? 1 : 0;
    if (e.rows == 0) e.printed.err = "programma: " + path + ": holds no sample line\n";
    if (e.rows != 0) e.loaded = problem.empty() ? 0 : 1;
    if (!problem.empty()) e.bits.clear();
    return e;
}

// A file of 1 MiB or more (the size the engine reads in parts) that the engine
// cuts into `parts` parts: a copy of `text` straddles each cut, `offset` bytes
// of it before the cut, and lines of blanks, cheap to read, fill the rest.
std::string parted_file(std::string_view text, unsigned parts, std::size_t offset, std::size_t extra) {
    const std::size_t span = (std::size_t(1) << 20) / parts + extra;  // the bytes between cuts
    std::string file;
    for (unsigned k = 1; k < parts; ++k) {
        file.resize(k * span - offset - 1, ' ');
        file.append(1, '\n').append(text).append(1, '\n');
    }
    file.resize(parts * span - 1, ' ');
    return file += '\n';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    uint64_t hash = 14695981039346656037u;  // FNV-1a, fixed so that committed inputs keep their file
    for (const char c : input) hash = (hash ^ uint8_t(c)) * 1099511628211u;
    // One input in 256 (a parted load costs a hundred times a plain one).
    const unsigned parts = hash >> 56 != 0 || size == 0 ? 1 : 2 + unsigned(hash >> 32) % 3;  // high bits mix best
    const std::string text =
        parts == 1 ? std::string(input) : parted_file(input, parts, (hash >> 16) % (size + 1), (hash >> 40) % 4096);
    const std::string path = fuzz::scratch_file("samples", text);
    const Load reference = load(false, path);
    fuzz::check(reference == expected(text, path), "the reference loader reads as strtof does");
    for (const unsigned threads : {4u, parts, 1u}) {
        EngineSettings settings;
        settings.threads = threads;
        fuzz::check(load(true, path, settings) == reference, "the engine's loader gives the reference loader's load");
        if (parts == 1) break;  // a small file is one part whatever the thread count
    }
    return 0;
}
