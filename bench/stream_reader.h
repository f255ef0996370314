// A plain sample-file reader for comparison with the program's own: it counts
// the numbers on the first line, then reads every number with fscanf("%f").
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "file_lib.h"
#include "sample_memory.h"

// Loads the file into `matrix`; false when it cannot be read or its numbers
// do not fill whole rows.
inline bool stream_read(const char* path, SampleMatrix& matrix) {
    std::FILE* in = std::fopen(path, "r");
    if (in == nullptr) return false;
    uint32_t columns = 0;
    bool in_token = false;
    for (int c = std::getc(in); c != EOF && c != '\n'; c = std::getc(in)) {
        bool blank = std::isspace(c) != 0;
        if (!blank && !in_token) ++columns;
        in_token = !blank;
    }
    std::rewind(in);
    // The floats in the memory the program's own loader puts them in, so
    // that the two readers differ in reading alone.
    matrix = SampleMatrix{};
    matrix.values = values_in_sample_memory();
    float value = 0.0f;
    while (std::fscanf(in, "%f", &value) == 1) matrix.values.push_back(value);
    std::fclose(in);
    if (columns == 0 || matrix.values.size() % columns != 0) return false;
    matrix.columns = columns;
    matrix.rows = static_cast<uint32_t>(matrix.values.size() / columns);
    return true;
}
