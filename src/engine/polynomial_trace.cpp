// Gathering the polynomial trace into pieces for stdout.
#include "polynomial_trace.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "perceptron_lib.h"
#include "sample_memory.h"

namespace {

std::string fixed6(float value) {
    char text[kFixed6Max];
    return std::string(text, format_fixed6(value, text));
}

}  // namespace

bool stdin_read_may_wait() {
    if (feof_unlocked(stdin) != 0) return false;  // an ended stream is not read again
    static const bool regular = [] {
        struct stat info {};
        return ::fstat(0, &info) == 0 && S_ISREG(info.st_mode);
    }();
    if (regular) return false;
    pollfd input{0, POLLIN, 0};
    return ::poll(&input, 1, 0) == 0;
}

TraceWriter::TraceWriter() : piece(static_cast<char*>(allocate_sample_memory(kPiece))) {}

TraceWriter::~TraceWriter() {
    flush();
    free_sample_memory(piece, kPiece);
}

void TraceWriter::write_long(const char* text, std::size_t length) {
    while (length > 0) {
        if (used == kPiece) flush();
        const std::size_t part = std::min(length, kPiece - used);
        std::memcpy(piece + used, text, part);
        used += part;
        text += part;
        length -= part;
    }
}

// Only this thread uses the standard streams while a trace is written, so
// their locks can be skipped.
void TraceWriter::flush() {
    if (used > 0) fwrite_unlocked(piece, 1, used, stdout);
    used = 0;
}

void TraceWriter::pause() {
    if (stdin_read_may_wait()) {
        flush();
        fflush_unlocked(stdout);
    }
    getchar_unlocked();
}

PolynomialTrace::PolynomialTrace(float degree) : degree_text(' ' + fixed6(degree) + "result vale ") {}

void PolynomialTrace::add_slot(uint32_t features, const float* row) {
    slot_text.push_back(fixed6(traced_element(features, row)) + ' ');
}

void PolynomialTrace::start_decision(uint32_t features, const float* sample) {
    char number[kFixed6Max];
    head = "Arg ";
    head.append(number, format_unsigned(features, number));
    head += ' ';
    head += fixed6(traced_element(features, sample));
    head += ' ';
    previous_length = format_fixed6(0.0, previous);
}

void PolynomialTrace::evaluation(uint32_t slot, float value) {
    writer.write(head.data(), head.size());
    writer.write(slot_text[slot].data(), slot_text[slot].size());
    writer.write(previous, previous_length);
    writer.write(degree_text.data(), degree_text.size());
    previous_length = format_fixed6(value, previous);
    writer.write(previous, previous_length);
    writer.pause();
}
