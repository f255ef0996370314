// Sample-set files are read in large blocks: a measuring pass counts sample
// lines and the numbers of the first one, a loading pass parses every number
// exactly as strtof does in the C locale and checks each line's width. In
// the fast engine a file of a megabyte or more is cut into parts at line
// ends, one per thread, and each thread reads its part through a buffer of
// its own in both passes; measuring keeps the parts and their counts for the
// load of the same file.
// Mistake lists are saved through a temporary file that replaces the target
// only once it is complete, so a failed save never damages an existing list.
#include "file_lib.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

#include "decimal_scan.h"
#include "diagnostics.h"
#include "engine_settings.h"
#include "worker_pool.h"

namespace {

constexpr std::size_t kBlockSize = 1 << 16;

bool is_separator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Owns a descriptor for the duration of one pass.
struct FileDescriptor {
    int fd = -1;
    explicit FileDescriptor(int value) : fd(value) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

// Opens a sample file for reading; a file that cannot be opened is reported
// with the program's own text on standard output and the reason on standard
// error.
int open_sample_file(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        std::printf("ERRORE NEL FILE");
        report_error("%s: cannot open: %s", path, std::strerror(err));
    }
    return fd;
}

// Reads the next block, retrying interrupted reads. Returns the byte count,
// 0 at end of file, -1 on error (errno set).
ssize_t read_block(int fd, char* buffer, std::size_t size) {
    for (;;) {
        ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) return got;
    }
}

// Calls on_line(line, line_number) for every line of the file, the last one
// too when it has no newline. Returns false after reporting a read error.
template <typename OnLine>
bool for_each_line(int fd, const char* path, OnLine&& on_line) {
    // One reused buffer: a fresh large allocation per pass would cost a page
    // fault per page.
    thread_local std::unique_ptr<char[]> block(new char[kBlockSize]);
    std::string carry;  // a line that straddles two blocks
    unsigned long long line_number = 0;
    for (;;) {
        ssize_t got = read_block(fd, block.get(), kBlockSize);
        if (got < 0) {
            report_error("%s: cannot read: %s", path, std::strerror(errno));
            return false;
        }
        if (got == 0) break;
        std::string_view data(block.get(), static_cast<std::size_t>(got));
        while (!data.empty()) {
            std::size_t newline = data.find('\n');
            if (newline == std::string_view::npos) {
                carry.append(data);
                break;
            }
            ++line_number;
            if (carry.empty()) {
                if (!on_line(data.substr(0, newline), line_number)) return false;
            } else {
                carry.append(data.substr(0, newline));
                if (!on_line(std::string_view(carry), line_number)) return false;
                carry.clear();
            }
            data.remove_prefix(newline + 1);
        }
    }
    if (!carry.empty()) {
        ++line_number;
        if (!on_line(std::string_view(carry), line_number)) return false;
    }
    return true;
}

bool has_content(std::string_view line) {
    for (char c : line) {
        if (!is_separator(c)) return true;
    }
    return false;
}

// Splits a line into its numbers; calls on_token for each and returns the count.
template <typename OnToken>
std::size_t for_each_token(std::string_view line, OnToken&& on_token) {
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        if (i == line.size()) break;
        std::size_t start = i;
        while (i < line.size() && !is_separator(line[i])) ++i;
        on_token(line.substr(start, i - start), count);
        ++count;
    }
    return count;
}

// Reads a whole token with strtof in the C locale.
bool parse_float_reference(std::string_view token, float& value) {
    std::string copy(token);
    char* end = nullptr;
    value = std::strtof(copy.c_str(), &end);
    return end == copy.c_str() + copy.size() && !copy.empty();
}

// Reads the run of decimal digits at p, up to 8 of them, from one 8-byte
// load (p + 8 must be readable): returns how many digits there are and
// their value.
int eight_digits(const char* p, uint64_t& value) {
    uint64_t chunk = 0;
    std::memcpy(&chunk, p, sizeof chunk);
    const uint64_t digits = chunk - 0x3030303030303030ull;
    // A byte below '0' sets its top bit in `digits`, one above '9' in
    // chunk + 0x46; carries and borrows only reach the bytes after it.
    const uint64_t outside = ((chunk + 0x4646464646464646ull) | digits) & 0x8080808080808080ull;
    const int count = outside == 0 ? 8 : __builtin_ctzll(outside) / 8;
    if (count == 0) return 0;
    // Keep the digits and move them to the top bytes, then fold pairs,
    // quads and octets into one number.
    uint64_t x = count == 8 ? digits : (digits << (8 * (8 - count)));
    x = (x * 10) + (x >> 8);
    x = (((x & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
         (((x >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >> 32;
    value = x;
    return count;
}

// Reads the plain decimal at first; stop is where it ends. Plain decimals
// ("-0.99967986", "3", "0.5"): digits below 2^53 and at most 22 decimals, no
// exponent; a quotient halfway between two floats is left to the general
// parser.
bool parse_plain_decimal(const char* first, const char* last, float& value, const char*& stop) {
    static constexpr uint64_t kScale[] = {1,      10,      100,      1000,     10000,
                                          100000, 1000000, 10000000, 100000000};
    const char* p = first;
    const bool negative = p < last && *p == '-';
    if (negative) ++p;
    uint64_t digits = 0;
    int decimals = -1;
    int digit_count = 0;
    bool exact = true;
    for (;;) {
        if (last - p >= 8) {
            uint64_t chunk = 0;
            const int count = eight_digits(p, chunk);
            if (count > 0) {
                // Up to 8 more digits: exact as long as the total stays
                // below 2^53 (checked below, before it can overflow).
                if (digits >= (uint64_t(1) << 53) / kScale[count]) exact = false;
                digits = digits * kScale[count] + chunk;
                digit_count += count;
                if (decimals >= 0) decimals += count;
                p += count;
                if (count == 8) continue;
            }
        } else {
            while (p < last && *p >= '0' && *p <= '9') {
                if (digits >= (uint64_t(1) << 53) / 10) exact = false;
                digits = digits * 10 + uint64_t(*p - '0');
                ++digit_count;
                if (decimals >= 0) ++decimals;
                ++p;
            }
        }
        if (p < last && *p == '.' && decimals < 0) {
            decimals = 0;
            ++p;
            continue;
        }
        break;
    }
    stop = p;
    if (digit_count == 0 || !exact) return false;
    return decimal_to_float(digits, decimals < 0 ? 0 : decimals, negative, value);
}

// Reads a whole token as strtof would. The fast parsers are correctly
// rounded like strtof; forms they do not take (a leading '+', hexadecimal,
// out-of-range values) go to strtof itself, and so do NaNs: from_chars drops
// the payload of "nan(123)", which strtof keeps.
bool parse_float(std::string_view token, float& value) {
    if (!engine_settings().fast) return parse_float_reference(token, value);
    const char* stop = nullptr;
    if (parse_plain_decimal(token.data(), token.data() + token.size(), value, stop) &&
        stop == token.data() + token.size()) {
        return true;
    }
    const char* first = token.data();
    const char* last = first + token.size();
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec == std::errc() && ptr == last && !std::isnan(value)) return true;
    return parse_float_reference(token, value);
}

// A bad token as the diagnostic shows it: its first 40 bytes, with bytes
// that are not printable ASCII written as \xNN, so that a binary file's
// bytes (a NUL, terminal escapes) cannot cut or garble the message.
std::string shown_token(std::string_view token) {
    constexpr std::size_t kMaxShown = 40;
    static const char kHex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : token.substr(0, kMaxShown)) {
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += kHex[c >> 4];
            shown += kHex[c & 0xf];
        }
    }
    if (token.size() > kMaxShown) shown += "...";
    return shown;
}

}  // namespace

namespace {

// One share of a large file: whole lines from byte `begin` to byte `end`,
// read by one thread through a buffer of its own, counted by measuring and
// parsed by the load straight into its rows of the matrix.
struct TextPart {
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t lines = 0;              // lines in the part
    uint64_t sample_lines = 0;       // of which hold numbers
    std::size_t first_columns = 0;   // numbers on its first sample line
    uint64_t first_row = 0;
    uint64_t bad_line = 0;           // line within the part of the first bad line, 0 if none
    bool changed = false;            // its sample lines were not those counted
    int read_failure = 0;            // see read_exactly
    std::string problem;
};

// Files this large are read in parts, on every thread.
constexpr std::size_t kPartedLoadBytes = std::size_t(1) << 20;
// A part is read this many bytes at a time, into memory that stays in the
// processor's caches; and bytes past the data may be read this far, so that
// the 16-byte number scanner can run to the last byte (they hold zeros,
// which end any number).
constexpr std::size_t kPartBlock = std::size_t(512) << 10;
constexpr std::size_t kPadding = 64;

// A large file as measuring found it: its identity and its parts with their
// counts, kept for the load of the same file. The file itself is read twice
// (from the system's cache, the second time), which costs less than holding
// all of it in fresh memory.
struct FileLayout {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    struct timespec modified {};
    std::vector<TextPart> parts;

    bool holds(const struct stat& info) const {
        return size >= 0 && info.st_dev == device && info.st_ino == inode && info.st_size == size &&
               info.st_mtim.tv_sec == modified.tv_sec && info.st_mtim.tv_nsec == modified.tv_nsec;
    }
};

// The layout measuring found last, kept for the load of the same file.
FileLayout& kept_layout() {
    static FileLayout layout;
    return layout;
}

// Reads count bytes at offset into buffer, retrying short and interrupted
// reads. Returns 0, or the errno of a failed read, or -1 when the file ends
// early (it shrank since it was measured).
int read_exactly(int fd, char* buffer, std::size_t count, off_t offset) {
    while (count > 0) {
        const ssize_t got = ::pread(fd, buffer, count, offset);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return -1;
        buffer += got;
        count -= std::size_t(got);
        offset += got;
    }
    return 0;
}

// Reports a failure of read_exactly; false.
bool report_read_failure(const char* path, int failure) {
    if (failure > 0) {
        report_error("%s: cannot read: %s", path, std::strerror(failure));
    } else {
        report_error("%s: the file ended early (it changed)", path);
    }
    return false;
}

using ByteBuffer = std::vector<char, UninitialisedAllocator<char>>;

// Calls on_line(line, readable) for every line of bytes [begin, end) of a
// file, the last one too when it has no newline, reading them through
// `buffer`; bytes up to `readable` may be read past the line. Stops when
// on_line returns false. Returns 0 or, when a read failed, what
// read_exactly said.
template <typename OnLine>
int for_each_line_of(int fd, uint64_t begin, uint64_t end, ByteBuffer& buffer, OnLine&& on_line) {
    if (buffer.size() < kPartBlock + kPadding) buffer.resize(kPartBlock + kPadding);
    std::size_t kept = 0;  // the start of a line the last block cut, moved to the front
    uint64_t offset = begin;
    for (;;) {
        // A line longer than the buffer doubles it.
        if (kept == buffer.size() - kPadding) buffer.resize(2 * kept + kPadding);
        const std::size_t room = buffer.size() - kPadding - kept;
        const std::size_t count = std::size_t(std::min<uint64_t>(room, end - offset));
        const int failure = read_exactly(fd, buffer.data() + kept, count, off_t(offset));
        if (failure != 0) return failure;
        offset += count;
        const std::size_t size = kept + count;
        std::fill(buffer.data() + size, buffer.data() + size + kPadding, '\0');
        const std::string_view data(buffer.data(), size);
        const char* readable = buffer.data() + size + kPadding;
        std::size_t start = 0;
        for (std::size_t newline = data.find('\n'); newline != std::string_view::npos;
             newline = data.find('\n', start)) {
            if (!on_line(data.substr(start, newline - start), readable)) return 0;
            start = newline + 1;
        }
        kept = size - start;
        if (offset == end) {
            if (kept > 0) on_line(data.substr(start), readable);
            return 0;
        }
        std::memmove(buffer.data(), buffer.data() + start, kept);
    }
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
            if (const int failure = read_exactly(fd, window, length, off_t(at)); failure != 0) {
                return failure;
            }
            const void* newline = std::memchr(window, '\n', length);
            if (newline != nullptr) {
                end = at + uint64_t(static_cast<const char*>(newline) - window) + 1;
                break;
            }
            at += length;
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

// Counts each part's lines and sample lines, and the numbers on its first
// sample line, on every thread. Returns false after a diagnostic.
bool count_parts(int fd, const char* path, std::vector<TextPart>& parts) {
    parallel_for(parts.size(), 1, [&](std::size_t begin, std::size_t end) {
        ByteBuffer buffer;
        for (std::size_t k = begin; k < end; ++k) {
            TextPart& part = parts[k];
            part.read_failure = for_each_line_of(fd, part.begin, part.end, buffer,
                                                 [&](std::string_view line, const char*) {
                ++part.lines;
                if (!has_content(line)) return true;
                if (part.sample_lines == 0) {
                    part.first_columns = for_each_token(line, [](std::string_view, std::size_t) {});
                }
                ++part.sample_lines;
                return true;
            });
        }
    });
    for (const TextPart& part : parts) {
        if (part.read_failure != 0) return report_read_failure(path, part.read_failure);
    }
    return true;
}

// Splits and counts a large regular file into a new layout. Returns false
// after a diagnostic.
bool measure_parts(int fd, const struct stat& info, const char* path, FileLayout& layout) {
    layout = FileLayout{};
    if (const int failure = split_parts(fd, uint64_t(info.st_size), pool_threads(), layout.parts);
        failure != 0) {
        return report_read_failure(path, failure);
    }
    if (!count_parts(fd, path, layout.parts)) return false;
    layout.device = info.st_dev;
    layout.inode = info.st_ino;
    layout.size = info.st_size;
    layout.modified = info.st_mtim;
    return true;
}

// The rows and the columns (the numbers on the first sample line) a layout
// counted.
uint64_t layout_rows(const FileLayout& layout) {
    uint64_t rows = 0;
    for (const TextPart& part : layout.parts) rows += part.sample_lines;
    return rows;
}

std::size_t layout_columns(const FileLayout& layout) {
    for (const TextPart& part : layout.parts) {
        if (part.sample_lines > 0) return part.first_columns;
    }
    return 0;
}

// Whether a file is read in parts: a large regular file, in the fast engine.
bool read_in_parts(int fd, struct stat& info) {
    return engine_settings().fast && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
           std::size_t(info.st_size) >= kPartedLoadBytes;
}

int parse_parts(int fd, FileLayout& layout, SampleMatrix& matrix, uint32_t columns, uint32_t rows,
                const char* path);

// A sample file read and loaded ahead of its turn on a worker (read_ahead):
// the set, with the identity of the file it came from, when all went well.
struct ReadAhead {
    bool pending = false;  // the job may still be running
    bool loaded = false;   // `set` holds the whole file
    std::string path;
    FileLayout layout;     // the file's identity
    SampleMatrix set;

    ReadAhead() = default;
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead() { settle(); }

    // Waits for the job; a job that failed or threw leaves nothing loaded.
    void settle() {
        if (!pending) return;
        pending = false;
        try {
            finish_background();
        } catch (...) {
            loaded = false;
        }
    }

    void drop() {
        settle();
        loaded = false;
        layout = FileLayout{};
        set = SampleMatrix{};
    }

    // Whether the loaded set is of the file open as `info`.
    bool holds(const struct stat& info) const { return loaded && layout.holds(info); }

    // Reads and parses the file as line_counter and read_file would, saying
    // nothing: anything amiss leaves nothing loaded, for the usual load to
    // find and report in its turn.
    void load() {
        QuietDiagnostics quiet;
        FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (file.fd < 0 || !read_in_parts(file.fd, info) ||
            !measure_parts(file.fd, info, path.c_str(), layout)) {
            return;
        }
        const uint64_t rows = layout_rows(layout);
        const std::size_t columns = layout_columns(layout);
        if (rows == 0 || rows > UINT32_MAX || columns > UINT32_MAX) return;
        set.columns = uint32_t(columns);
        if (parse_parts(file.fd, layout, set, set.columns, uint32_t(rows), path.c_str()) != 0) return;
        set.rows = uint32_t(rows);
        loaded = true;
    }
};

ReadAhead& read_ahead_state() {
    static ReadAhead state;
    return state;
}

}  // namespace

int line_counter(const char* path, Dims& dims) {
    ReadAhead& ahead = read_ahead_state();
    ahead.settle();
    FileDescriptor file(open_sample_file(path));
    if (file.fd < 0) {
        ahead.drop();
        return 1;
    }

    unsigned long long rows = 0;
    std::size_t columns = 0;
    struct stat info {};
    bool ok = true;
    const bool parted = read_in_parts(file.fd, info);
    if (parted && ahead.holds(info)) {
        // Loaded ahead: kept for read_file.
        dims.columns = ahead.set.columns;
        dims.rows = ahead.set.rows;
        return 0;
    }
    ahead.drop();
    if (parted) {
        FileLayout& layout = kept_layout();
        ok = measure_parts(file.fd, info, path, layout);
        rows = layout_rows(layout);
        columns = layout_columns(layout);
    } else {
        ok = for_each_line(file.fd, path, [&](std::string_view line, unsigned long long) {
            if (rows == 0) {
                columns = for_each_token(line, [](std::string_view, std::size_t) {});
                if (columns == 0) return true;
            } else if (!has_content(line)) {
                return true;
            }
            ++rows;
            return true;
        });
    }
    if (!ok) return 1;
    if (rows == 0) {
        report_error("%s: holds no sample line", path);
        return 1;
    }
    if (rows > UINT32_MAX || columns > UINT32_MAX) {
        report_error("%s: too many samples or numbers", path);
        return 1;
    }
    dims.columns = static_cast<uint32_t>(columns);
    dims.rows = static_cast<uint32_t>(rows);
    return 0;
}

namespace {

enum class LineKind { blank, sample, bad };

// Reads one line of a sample file into out (room for `columns` floats).
// A bad line leaves the reason in `problem`. Plain decimals are read as the
// line is scanned, short ones 16 bytes at a time where the bytes up to
// `readable` may be read; any other token is cut out and read whole.
LineKind parse_sample_line(std::string_view line, uint32_t columns, float* out,
                           std::string& problem, const char* readable) {
    const bool fast = engine_settings().fast;
    const char* p = line.data();
    const char* const end = p + line.size();
    std::size_t count = 0;
    for (;;) {
        while (p < end && is_separator(*p)) ++p;
        if (p == end) break;
        float value = 0.0f;
        if (fast && count < columns) {
            // The commonest numbers of image data, such as "-1", "0" and
            // "1": a single digit, with or without a minus, read at once.
            const char* digit = p + (*p == '-' ? 1 : 0);
            if (digit < end && unsigned(*digit - '0') <= 9 && (digit + 1 == end || is_separator(digit[1]))) {
                const float magnitude = float(*digit - '0');
                out[count++] = digit == p ? magnitude : -magnitude;
                p = digit + 1;
                continue;
            }
        }
        if (fast && count < columns && readable - p >= 16) {
            if (const int length = scan_short_decimal(p, value); length > 0) {
                out[count++] = value;
                p += length;
                continue;
            }
        }
        const char* stop = p;
        const bool read = count < columns && fast && parse_plain_decimal(p, end, value, stop) &&
                          (stop == end || is_separator(*stop));
        if (!read) {
            stop = p;
            while (stop < end && !is_separator(*stop)) ++stop;
            const std::string_view token(p, std::size_t(stop - p));
            if (count < columns && !parse_float(token, value)) {
                problem.assign(1, '\'');
                problem += shown_token(token);
                problem += "' is not a number";
                return LineKind::bad;
            }
        }
        if (count < columns) out[count] = value;
        ++count;
        p = stop;
    }
    if (count == 0) return LineKind::blank;
    if (count != columns) {
        problem.assign("holds ");
        problem += std::to_string(count);
        problem += " numbers, expected ";
        problem += std::to_string(columns);
        problem += " like the first sample line";
        return LineKind::bad;
    }
    return LineKind::sample;
}


// Loads through a read buffer, line by line: any kind of file.
int read_streaming(int fd, SampleMatrix& matrix, uint32_t columns, uint32_t rows,
                   const char* path) {
    SampleValues& values = matrix.values;
    struct stat info {};
    const std::size_t wanted = std::size_t(rows) * columns;
    // Reserve no more than the file could hold (a number takes at least two
    // bytes), so a ragged file is reported rather than over-allocated.
    std::size_t bound = wanted;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        bound = std::min<std::size_t>(wanted, std::size_t(info.st_size) / 2 + columns);
    }
    values.reserve(bound);

    std::vector<float> row(columns);
    std::string problem;
    uint32_t loaded_rows = 0;
    bool ok = for_each_line(fd, path, [&](std::string_view line, unsigned long long number) {
        LineKind kind = parse_sample_line(line, columns, row.data(), problem, line.data() + line.size());
        if (kind == LineKind::blank) return true;
        if (kind == LineKind::bad) {
            report_error("%s:%llu: %s", path, number, problem.c_str());
            return false;
        }
        if (loaded_rows == rows) {
            report_error("%s:%llu: more sample lines than were counted (the file changed)",
                         path, number);
            return false;
        }
        values.insert(values.end(), row.begin(), row.end());
        ++loaded_rows;
        return true;
    });
    if (!ok) return 1;
    if (loaded_rows != rows) {
        report_error("%s: %u sample lines, %u were counted (the file changed)", path, loaded_rows,
                     rows);
        return 1;
    }
    return 0;
}

// Loads a measured file on every thread: each part parses its sample lines
// into its own rows.
int parse_parts(int fd, FileLayout& layout, SampleMatrix& matrix, uint32_t columns, uint32_t rows,
                const char* path) {
    std::vector<TextPart>& parts = layout.parts;
    uint64_t total = 0;
    for (TextPart& part : parts) {
        part.first_row = total;
        total += part.sample_lines;
    }
    if (total != rows) {
        report_error("%s: %llu sample lines, %u were counted (the file changed)", path,
                     static_cast<unsigned long long>(total), rows);
        return 1;
    }
    matrix.values.resize(std::size_t(rows) * columns);
    parallel_for(parts.size(), 1, [&](std::size_t begin, std::size_t end) {
        ByteBuffer buffer;
        for (std::size_t k = begin; k < end; ++k) {
            TextPart& part = parts[k];
            float* out = matrix.values.data() + part.first_row * columns;
            uint64_t line_number = 0;
            uint64_t loaded = 0;
            part.read_failure = for_each_line_of(fd, part.begin, part.end, buffer,
                                                 [&](std::string_view line, const char* readable) {
                ++line_number;
                // A part never writes past the rows counted for it.
                if (loaded == part.sample_lines) {
                    if (!has_content(line)) return true;
                    loaded = part.sample_lines + 1;
                    return false;
                }
                LineKind kind = parse_sample_line(line, columns, out, part.problem, readable);
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
            if (part.read_failure == 0 && part.bad_line == 0 && loaded != part.sample_lines) {
                part.changed = true;
            }
        }
    });
    uint64_t lines_before = 0;
    bool changed = false;
    for (const TextPart& part : parts) {
        if (part.read_failure != 0) {
            report_read_failure(path, part.read_failure);
            return 1;
        }
        if (part.bad_line != 0) {
            report_error("%s:%llu: %s", path,
                         static_cast<unsigned long long>(lines_before + part.bad_line),
                         part.problem.c_str());
            return 1;
        }
        changed = changed || part.changed;
        lines_before += part.lines;
    }
    if (changed) {
        report_error("%s: the sample lines changed while the file was read", path);
        return 1;
    }
    return 0;
}

}  // namespace

int read_file(SampleMatrix& matrix, uint32_t columns, uint32_t rows, const char* path) {
    FileDescriptor file(open_sample_file(path));
    if (file.fd < 0) return 1;
    matrix = SampleMatrix{};
    matrix.columns = columns;

    struct stat info {};
    int status = 1;
    ReadAhead& ahead = read_ahead_state();
    ahead.settle();
    const bool parted = read_in_parts(file.fd, info);
    if (parted && ahead.holds(info) && ahead.set.columns == columns && ahead.set.rows == rows) {
        matrix = std::move(ahead.set);
        ahead.drop();
        return 0;
    }
    ahead.drop();
    if (parted) {
        // The layout measuring found, when it is of this very file; else a new one.
        FileLayout layout = std::move(kept_layout());
        kept_layout() = FileLayout{};
        const bool ready = layout.holds(info) || measure_parts(file.fd, info, path, layout);
        status = ready ? parse_parts(file.fd, layout, matrix, columns, rows, path) : 1;
    } else {
        status = read_streaming(file.fd, matrix, columns, rows, path);
    }
    if (status == 0) matrix.rows = rows;
    return status;
}

void read_ahead(const char* path) {
    ReadAhead& ahead = read_ahead_state();
    ahead.drop();
    if (!engine_settings().fast) return;
    ahead.path = path;
    ahead.pending = start_background([&ahead] { ahead.load(); });
}

namespace {

std::string directory_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links so that a save replaces the file a link names and
// keeps the link itself.
std::string resolve_links(const char* path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string target(std::size_t(info.st_size > 0 ? info.st_size : 256) + 1, '\0');
        ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0) return current;
        target.resize(std::size_t(length));
        current = (!target.empty() && target[0] == '/') ? target
                                                         : directory_of(current) + "/" + target;
    }
    return current;
}

bool write_entries(std::FILE* stream, const std::vector<int32_t>& entries) {
    for (int32_t index : entries) {
        if (std::fprintf(stream, "%u", static_cast<uint32_t>(index)) < 0) return false;
        if (std::fprintf(stream, "%c", '\n') < 0) return false;
    }
    return std::fflush(stream) == 0;
}

// Writes into an existing device or FIFO in place: such a target is never
// replaced by a new file.
bool save_in_place(const char* path, const std::vector<int32_t>& entries) {
    std::FILE* stream = std::fopen(path, "w");
    if (stream == nullptr) {
        report_error("%s: cannot save: %s", path, std::strerror(errno));
        return false;
    }
    bool written = write_entries(stream, entries);
    int write_errno = errno;
    bool closed = std::fclose(stream) == 0;
    if (!written || !closed) {
        report_error("%s: cannot save: %s", path, std::strerror(written ? errno : write_errno));
        return false;
    }
    return true;
}

// Writes a temporary file beside the target, syncs it and renames it over the
// target: the target holds either its old content or the whole new list.
bool save_by_replacing(const char* shown_path, const std::string& target,
                       const struct stat* existing, const std::vector<int32_t>& entries) {
    std::string temp = directory_of(target) + "/." + base_of(target) + ".XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        report_error("%s: cannot save: %s", shown_path, std::strerror(errno));
        return false;
    }
    mode_t mode = 0;
    if (existing != nullptr) {
        mode = existing->st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);

    std::FILE* stream = ::fdopen(fd, "w");
    if (stream == nullptr) {
        int err = errno;
        ::close(fd);
        ::unlink(temp.c_str());
        report_error("%s: cannot save: %s", shown_path, std::strerror(err));
        return false;
    }
    bool ok = write_entries(stream, entries) && ::fsync(fd) == 0;
    int err = errno;
    if (std::fclose(stream) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(temp.c_str());
        report_error("%s: cannot save: %s", shown_path, std::strerror(err));
        return false;
    }
    return true;
}

}  // namespace

int dump_file(std::unique_ptr<IndexList>& list, const char* path, uint8_t delete_flag) {
    std::vector<int32_t> entries;
    if (read_list(entries, list.get()) == -1) return 1;
    if (path == nullptr || path[0] == '\0') {
        report_error("cannot save: the file name is empty");
        return 1;
    }
    // A file-size limit must make the write fail, not kill the program
    // half-way through the save.
    std::signal(SIGXFSZ, SIG_IGN);

    std::string target = resolve_links(path);
    struct stat info {};
    bool exists = ::stat(target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) {
        // Only a missing target is created; one that cannot be looked up (a
        // loop of symbolic links, a folder that cannot be searched) is not
        // replaced.
        report_error("%s: cannot save: %s", path, std::strerror(errno));
        return 1;
    }
    bool saved = false;
    if (exists && S_ISDIR(info.st_mode)) {
        report_error("%s: cannot save: %s", path, std::strerror(EISDIR));
    } else if (exists && !S_ISREG(info.st_mode)) {
        saved = save_in_place(target.c_str(), entries);
    } else {
        saved = save_by_replacing(path, target, exists ? &info : nullptr, entries);
    }
    if (!saved) return 1;
    if (delete_flag != 0) del_list(list);
    return 0;
}

int restore_list(const char* path, std::unique_ptr<IndexList>& list) {
    std::FILE* stream = std::fopen(path, "r");
    if (stream == nullptr) {
        report_error("%s: cannot open: %s", path, std::strerror(errno));
        return 1;
    }
    std::string text;
    std::vector<char> block(1 << 16);
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), stream)) > 0) {
        text.append(block.data(), got);
    }
    bool read_error = std::ferror(stream) != 0;
    int err = errno;
    std::fclose(stream);
    if (read_error) {
        report_error("%s: cannot read: %s", path, std::strerror(err));
        return 1;
    }

    create_list(list);
    // Entries are read as unsigned decimal numbers separated by white space;
    // the first thing that is not a number ends the list. A negative number,
    // or one beyond 32 bits, becomes the largest index, which names no row.
    std::size_t i = 0;
    const std::size_t size = text.size();
    for (;;) {
        while (i < size && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        bool negative = false;
        if (i < size && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        if (i == size || !std::isdigit(static_cast<unsigned char>(text[i]))) break;
        unsigned long long value = 0;
        bool too_long = false;
        for (; i < size && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (value > UINT32_MAX) {
                too_long = true;
                value = UINT32_MAX;
            }
        }
        if (too_long || (negative && value != 0)) value = UINT32_MAX;
        add_list(static_cast<int32_t>(static_cast<uint32_t>(value)), list);
    }
    return 0;
}
