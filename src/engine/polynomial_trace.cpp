// Gathering the polynomial trace into pieces for stdout.
#include "polynomial_trace.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// Taken once and kept: stdout goes on using it after the trace. Sample
// memory, since a released set has most often touched its pages already.
char* trace_buffer() {
    static char* const buffer = static_cast<char*>(allocate_sample_memory(TraceWriter::kBuffer));
    return buffer;
}

}  // namespace

// glibc lets a stream change its buffer once what it holds is flushed. Only
// a stream on a file gets the buffer: one in memory (a test's capture, say)
// manages its own.
TraceWriter::TraceWriter() : on_file(::fileno(stdout) >= 0) {
    if (!on_file) return;
    std::fflush(stdout);
    std::setvbuf(stdout, trace_buffer(), _IOFBF, kBuffer);
}

// A terminal gets its lines as they come again.
TraceWriter::~TraceWriter() {
    hand_over();
    if (!on_file) return;
    std::fflush(stdout);
    if (::isatty(::fileno(stdout))) std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

// Only this thread uses the standard streams while a trace is written, so
// their locks can be skipped.
void TraceWriter::hand_over() {
    fwrite_unlocked(line, 1, used, stdout);
    used = 0;
}

void TraceWriter::end_evaluation() {
    hand_over();
    if (stdin_read_may_wait()) fflush_unlocked(stdout);
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
    writer.end_evaluation();
}
