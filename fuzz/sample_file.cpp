// Fuzz target: measuring and loading a sample-set file.
//
// The input is written to a file that line_counter measures and read_file
// loads. A simple reference reader, built on strtof itself, says what the
// outcome must be: whether the file is accepted, its size, and every value
// bit for bit (the loader promises to read numbers exactly as strtof does).
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "file_lib.h"
#include "fuzz_support.h"

namespace {

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

struct Expected {
    bool measured = false;  // line_counter succeeds
    bool loaded = false;    // read_file succeeds too
    uint32_t rows = 0;
    uint32_t columns = 0;
    std::vector<float> values;
};

Expected reference(std::string_view text) {
    Expected e;
    std::vector<std::vector<std::string>> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        std::vector<std::string> tokens;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && is_separator(line[i])) ++i;
            std::size_t from = i;
            while (i < line.size() && !is_separator(line[i])) ++i;
            if (i > from) tokens.emplace_back(line.substr(from, i - from));
        }
        if (!tokens.empty()) lines.push_back(std::move(tokens));
        start = end + 1;
    }
    if (lines.empty()) return e;
    e.measured = true;
    e.rows = static_cast<uint32_t>(lines.size());
    e.columns = static_cast<uint32_t>(lines.front().size());
    for (const auto& tokens : lines) {
        if (tokens.size() != e.columns) return e;
        for (const std::string& token : tokens) {
            char* end = nullptr;
            float value = std::strtof(token.c_str(), &end);
            if (end != token.c_str() + token.size()) return e;  // not a number (NUL bytes too)
            e.values.push_back(value);
        }
    }
    e.loaded = true;
    return e;
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::quiet_stdio();
    static const std::string path = fuzz::scratch_path("samples");
    fuzz::write_file(path, data, size);

    const Expected expected = reference(std::string_view(reinterpret_cast<const char*>(data), size));
    Dims dims;
    int measured = line_counter(path.c_str(), dims);
    FUZZ_CHECK((measured == 0) == expected.measured);
    if (measured != 0) return 0;
    FUZZ_CHECK(dims.rows == expected.rows);
    FUZZ_CHECK(dims.columns == expected.columns);

    SampleMatrix matrix;
    int loaded = read_file(matrix, dims.columns, dims.rows, path.c_str());
    FUZZ_CHECK((loaded == 0) == expected.loaded);
    if (loaded != 0) return 0;
    FUZZ_CHECK(matrix.rows == dims.rows);
    FUZZ_CHECK(matrix.columns == dims.columns);
    FUZZ_CHECK(matrix.values.size() == std::size_t(dims.rows) * dims.columns);
    for (std::size_t i = 0; i < matrix.values.size(); ++i) {
        FUZZ_CHECK(same_bits(matrix.values[i], expected.values[i]));
    }
    // Every row is reachable through the accessor the trainers use.
    FUZZ_CHECK(matrix.row(dims.rows - 1) + dims.columns == matrix.values.data() + matrix.values.size());
    return 0;
}
