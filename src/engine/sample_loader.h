// Sample files read by the engine: a regular file is cut into parts at line
// ends, one per thread, and each thread reads its part through a buffer of
// its own, once to count and once to parse; numbers are read as strtof reads
// them, short plain decimals in one SSE step. Other files (pipes, devices)
// are read by the plain loader. Results and diagnostics are those of
// line_counter and read_file.
#pragma once

#include <sys/stat.h>
#include <cstdint>
#include <string>
#include <vector>

#include "engine_settings.h"
#include "file_lib.h"

// One share of a file: whole lines from byte `begin` to byte `end`.
struct TextPart {
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t lines = 0;             // lines in the part
    uint64_t sample_lines = 0;      // of which hold numbers
    std::size_t first_columns = 0;  // numbers on its first sample line
    uint64_t first_row = 0;
    uint64_t bad_line = 0;  // line within the part of the first bad line, 0 if none
    bool changed = false;   // its sample lines were not those counted
    int read_failure = 0;   // 0, an errno, or -1: the file ended early
    std::string problem;
};

// A regular file as measuring found it, kept for its load: its identity
// (device, inode, size, modification and change times) and its counted parts.
struct MeasuredFile {
    struct stat identity {};
    std::vector<TextPart> parts;
    bool holds(const struct stat& info) const;
};

// As line_counter; the parts of a regular file are kept in `measured`.
int measure_samples(const char* path, Dims& dims, MeasuredFile& measured, const EngineSettings& settings);

// As read_file; the parts measured are used when the file is unchanged,
// otherwise it is measured again.
int load_samples(SampleMatrix& matrix, uint32_t columns, uint32_t rows, const char* path, MeasuredFile& measured,
                 const EngineSettings& settings);

// Reads the number at p as strtof would (the bytes up to `readable` may be
// read), as the loader does with these settings; returns where it ends, or
// nullptr when the token is not a number.
const char* read_number_fast(const char* p, const char* end, const char* readable, float& value,
                             const EngineSettings& settings);
