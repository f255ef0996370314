// Measuring counts each part's lines on its own thread; loading parses each
// part straight into its rows of the matrix, which the counts place. A part
// never writes past the rows counted for it, and a file that changes between
// the two passes is reported.
#include "sample_loader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>

#include "decimal_scan.h"
#include "diagnostics.h"
#include "processor_probe.h"
#include "sample_memory.h"
#include "sample_text.h"
#include "worker_pool.h"

namespace {

// Files this large are read in parts, on every thread.
constexpr std::size_t kPartedBytes = std::size_t(1) << 20;
// A part is read this many bytes at a time, into memory that stays in the
// processor's caches.
constexpr std::size_t kPartBlock = std::size_t(128) << 10;

using ByteBuffer = std::vector<char, SampleAllocator<char>>;

// Each thread's read buffer, kept for its next part: the measuring and the
// parsing pass, and the next file, read through the same memory instead of
// having the system zero fresh memory for every pass. Under an
// address-space limit a pass reads through `own` instead, given back when
// the pass ends, so that a load holds nothing the plain loader might need.
ByteBuffer& read_buffer(ByteBuffer& own) {
    if (address_space_limited()) return own;
    thread_local ByteBuffer kept;
    return kept;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool regular_file(const char* path) {
    struct stat info {};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// Reads the number at p as strtof would; with kScan, a short plain decimal
// first goes through the SSE scan. Whether the scan may run is asked once a
// file, not once a number.
template <bool kScan>
const char* read_number(const char* p, const char* end, const char* readable, float& value) {
    if constexpr (kScan) {
        if (readable - p >= 16) {
            if (const int length = scan_short_decimal_sse41(p, value); length > 0) return p + length;
        }
    }
    const std::string_view token = token_at(p, end);
    const char* last = token.data() + token.size();
    // from_chars is correctly rounded like strtof; the forms it reads
    // otherwise go to strtof itself: a leading '+', hexadecimal, values out
    // of range, and NaNs (from_chars drops the payload of "nan(123)").
    const auto [stop, error] = std::from_chars(p, last, value);
    if (error == std::errc() && stop == last && !std::isnan(value)) return last;
    return read_number_strtof(token, value) ? last : nullptr;
}

// Splits a file of `size` bytes into `count` parts of whole lines: each
// boundary moves on to just past a newline. Returns 0 or a read failure.
int split_parts(int fd, uint64_t size, std::size_t count, std::vector<TextPart>& parts) {
    parts.clear();
    uint64_t start = 0;
    for (std::size_t k = 1; k <= count && start < size; ++k) {
        uint64_t end = k == count ? size : std::max(start, size * k / count);
        // The part ends just past the first newline at or after end - 1.
        char window[4096];
        uint64_t at = end == 0 ? 0 : end - 1;
        while (end < size) {
            const std::size_t length = std::size_t(std::min<uint64_t>(sizeof window, size - at));
            const ssize_t got = read_some(fd, window, length, at);
            if (got <= 0) return got < 0 ? errno : -1;
            const void* newline = std::memchr(window, '\n', std::size_t(got));
            if (newline != nullptr) {
                end = at + uint64_t(static_cast<const char*>(newline) - window) + 1;
                break;
            }
            at += uint64_t(got);
            if (at == size) end = size;
        }
        TextPart part;
        part.begin = start;
        part.end = end;
        parts.push_back(std::move(part));
        start = end;
    }
    return 0;
}

// Splits and counts a regular file open as `info` into `measured`, each part
// on its own thread. Returns false after a diagnostic.
bool measure_parts(int fd, const struct stat& info, const char* path, MeasuredFile& measured,
                   const EngineSettings& settings) {
    measured = MeasuredFile{};
    const uint64_t size = uint64_t(info.st_size);
    const std::size_t count = size >= kPartedBytes ? pool_threads(settings) : 1;
    if (const int failure = split_parts(fd, size, count, measured.parts); failure != 0) {
        report_read_failure(path, failure);
        return false;
    }
    parallel_for(settings, measured.parts.size(), 1, [&](std::size_t begin, std::size_t end) {
        ByteBuffer own;
        ByteBuffer& buffer = read_buffer(own);
        for (std::size_t k = begin; k < end; ++k) {
            TextPart& part = measured.parts[k];
            part.read_failure =
                for_each_line(fd, part.begin, part.end, kPartBlock, buffer, [&](std::string_view line, const char*) {
                    ++part.lines;
                    if (!has_content(line)) return true;
                    if (part.sample_lines == 0) part.first_columns = count_tokens(line);
                    ++part.sample_lines;
                    return true;
                });
        }
    });
    for (const TextPart& part : measured.parts) {
        if (part.read_failure != 0) {
            report_read_failure(path, part.read_failure);
            return false;
        }
    }
    measured.identity = info;
    return true;
}

// Parses every part into its rows. Returns false after a diagnostic.
bool parse_parts(int fd, MeasuredFile& measured, SampleMatrix& matrix, uint32_t columns, uint32_t rows,
                 const char* path, const EngineSettings& settings) {
    std::vector<TextPart>& parts = measured.parts;
    uint64_t total = 0;
    for (TextPart& part : parts) {
        part.first_row = total;
        total += part.sample_lines;
    }
    if (total != rows) {
        report_changed_count(path, total, rows);
        return false;
    }
    matrix.values.resize(std::size_t(rows) * columns);
    const bool scan = short_decimal_scan_usable(settings);
    parallel_for(settings, parts.size(), 1, [&](std::size_t begin, std::size_t end) {
        ByteBuffer own;
        ByteBuffer& buffer = read_buffer(own);
        for (std::size_t k = begin; k < end; ++k) {
            TextPart& part = parts[k];
            float* out = matrix.values.data() + part.first_row * columns;
            uint64_t line_number = 0;
            uint64_t loaded = 0;
            part.read_failure = for_each_line(
                fd, part.begin, part.end, kPartBlock, buffer, [&](std::string_view line, const char* readable) {
                    ++line_number;
                    if (loaded == part.sample_lines) {  // never past the rows counted
                        if (!has_content(line)) return true;
                        loaded = part.sample_lines + 1;
                        return false;
                    }
                    const LineKind kind =
                        scan ? parse_sample_line(line, columns, out, part.problem, readable, read_number<true>)
                             : parse_sample_line(line, columns, out, part.problem, readable, read_number<false>);
                    if (kind == LineKind::bad) {
                        part.bad_line = line_number;
                        return false;
                    }
                    if (kind == LineKind::sample) {
                        out += columns;
                        ++loaded;
                    }
                    return true;
                });
            part.changed = part.read_failure == 0 && part.bad_line == 0 && loaded != part.sample_lines;
        }
    });
    uint64_t lines_before = 0;
    bool changed = false;
    for (const TextPart& part : parts) {
        if (part.read_failure != 0) {
            report_read_failure(path, part.read_failure);
            return false;
        }
        if (part.bad_line != 0) {
            report_bad_line(path, lines_before + part.bad_line, part.problem);
            return false;
        }
        changed = changed || part.changed;
        lines_before += part.lines;
    }
    if (changed) {
        report_file_problem(programma::ErrorKind::bad_data, path, 0, 0,
                            "the sample lines changed while the file was read");
        return false;
    }
    return true;
}

}  // namespace

bool MeasuredFile::holds(const struct stat& info) const {
    return !parts.empty() && info.st_dev == identity.st_dev && info.st_ino == identity.st_ino &&
           info.st_size == identity.st_size && same_time(info.st_mtim, identity.st_mtim) &&
           same_time(info.st_ctim, identity.st_ctim);
}

const char* read_number_fast(const char* p, const char* end, const char* readable, float& value,
                             const EngineSettings& settings) {
    return short_decimal_scan_usable(settings) ? read_number<true>(p, end, readable, value)
                                               : read_number<false>(p, end, readable, value);
}

int measure_samples(const char* path, Dims& dims, MeasuredFile& measured, const EngineSettings& settings) {
    measured = MeasuredFile{};
    if (!regular_file(path)) return line_counter(path, dims);
    SampleFile file(open_sample_file(path));
    if (file.fd < 0) return 1;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return line_counter(path, dims);
    try {
        if (!measure_parts(file.fd, info, path, measured, settings)) return 1;
    } catch (const std::bad_alloc&) {  // no buffers: the plain loader, which needs none
        measured = MeasuredFile{};
        return line_counter(path, dims);
    }
    uint64_t rows = 0;
    std::size_t columns = 0;
    for (const TextPart& part : measured.parts) {
        if (rows == 0) columns = part.first_columns;
        rows += part.sample_lines;
    }
    return counted_dims(path, rows, columns, dims);
}

int load_samples(SampleMatrix& matrix, uint32_t columns, uint32_t rows, const char* path, MeasuredFile& measured,
                 const EngineSettings& settings) {
    if (!regular_file(path)) return read_file(matrix, columns, rows, path);
    SampleFile file(open_sample_file(path));
    if (file.fd < 0) return 1;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return read_file(matrix, columns, rows, path);
    bool loaded = false;
    try {
        matrix = SampleMatrix{};
        matrix.columns = columns;
        matrix.values = values_in_sample_memory();
        const bool ready = measured.holds(info) || measure_parts(file.fd, info, path, measured, settings);
        loaded = ready && parse_parts(file.fd, measured, matrix, columns, rows, path, settings);
    } catch (const std::bad_alloc&) {  // no room for the engine's buffers: the plain loader
        measured = MeasuredFile{};
        matrix = SampleMatrix{};
        return read_file(matrix, columns, rows, path);
    }
    measured = MeasuredFile{};
    if (!loaded) return 1;
    matrix.rows = rows;
    return 0;
}
