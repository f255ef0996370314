// The polynomial kernel's trace on its way to standard output. The trace is
// tens of bytes per kernel evaluation, megabytes per run, and handing it to
// stdio an evaluation at a time costs a system call for every few kilobytes
// (stdio's own buffer), more than computing it. So the text is gathered in
// larger pieces, each passed to stdout in one call. The bytes on standard
// output, and the order of every write against every read of standard input,
// stay those of printing each evaluation at once: what is gathered is handed
// over before any read of standard input that could wait for its user, and
// the caller flushes before it writes anything else.
#pragma once

#include <cstddef>
#include <cstring>

struct TraceWriter {
    TraceWriter();
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    // Appends text to the trace.
    void write(const char* text, std::size_t length) {
        if (length > kPiece - used) {
            write_long(text, length);
            return;
        }
        if (length <= 32) {
            copy_short(piece + used, text, length);
        } else {
            std::memcpy(piece + used, text, length);
        }
        used += length;
    }

    // The one-character pause after an evaluation: reads a character of
    // standard input, after handing over the trace if the read may wait.
    void pause();

    // Hands everything gathered to stdout; call before any other use of the
    // standard streams.
    void flush();

    // Large enough to save most system calls; it comes from sample memory,
    // most often pages a released set has touched already.
    static constexpr std::size_t kPiece = std::size_t(256) << 10;

private:
    void write_long(const char* text, std::size_t length);

    // Most trace texts are a few bytes long: two overlapping fixed-size
    // copies move them without a call.
    static void copy_short(char* to, const char* from, std::size_t length) {
        if (length >= 16) {
            std::memcpy(to, from, 16);
            std::memcpy(to + length - 16, from + length - 16, 16);
        } else if (length >= 8) {
            std::memcpy(to, from, 8);
            std::memcpy(to + length - 8, from + length - 8, 8);
        } else if (length >= 4) {
            std::memcpy(to, from, 4);
            std::memcpy(to + length - 4, from + length - 4, 4);
        } else {
            for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
        }
    }

    char* piece;  // the text gathered so far
    std::size_t used = 0;
};

// Whether reading a character of standard input now would ask the system
// (and so could wait): nothing is left in its buffer and it has not ended.
bool stdin_read_may_wait();
