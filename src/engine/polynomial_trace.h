// The polynomial kernel's trace on its way to standard output: for every
// kernel evaluation the texts "Arg ..." and "result vale ...", exactly as
// printf writes them, then the one-character pause. The trace is tens of
// bytes per evaluation, megabytes per run; handing it to stdio an evaluation
// at a time costs more than computing it (a call through stdio for each,
// and with stdout's usual buffer a system call for every few kilobytes). So
// the text is gathered in pieces of 256 KiB, each passed to stdout in one
// call, and only the kernel value is formatted afresh each time. The bytes on
// standard output, and the order of every write against every read of
// standard input, stay those of printing each evaluation at once: what is
// gathered is handed over, and stdout flushed, before any read of standard
// input that could wait for its user, and handed over before anything else
// is printed (flush).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "number_format.h"

struct TraceWriter {
    TraceWriter();
    ~TraceWriter();
    TraceWriter(const TraceWriter&) = delete;
    TraceWriter& operator=(const TraceWriter&) = delete;

    void write(const char* text, std::size_t length) {
        if (length > kPiece - used || length > 32) return write_long(text, length);
        copy_short(piece + used, text, length);
        used += length;
    }

    // The one-character pause after an evaluation: reads a character of
    // standard input, after handing over the trace and flushing stdout if
    // the read may wait.
    void pause();

    // Hands everything gathered to stdout.
    void flush();

    // Large enough to save most system calls; sample memory, pre-faulted.
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

// Whether reading a character of standard input now could wait for its user:
// it has not ended, it is not a regular file, and nothing can be read from
// it at once. (A character stdio already holds makes this say yes when the
// read would not wait; the trace is then handed over a little early.)
bool stdin_read_may_wait();

// The trace of the decisions of one run.
struct PolynomialTrace {
    explicit PolynomialTrace(float degree);

    // A new slot's row: its traced element as the trace shows it.
    void add_slot(uint32_t features, const float* row);

    // Starts the evaluations of one sample's decision.
    void start_decision(uint32_t features, const float* sample);

    // One evaluation, against the row in `slot`, giving value; then the pause.
    void evaluation(uint32_t slot, float value);

    void flush() { writer.flush(); }

private:
    std::string head;                    // "Arg <features> <sample's traced element> "
    std::string degree_text;             // " <degree>result vale "
    std::vector<std::string> slot_text;  // per slot: its row's traced element and a blank
    char previous[kFixed6Max];           // the last value shown, as text
    std::size_t previous_length = 0;
    TraceWriter writer;
};
