// Gathering the polynomial trace into pieces for stdout.
#include "trace_writer.h"

#include <algorithm>
#include <cstdio>

#include "sample_memory.h"

bool stdin_read_may_wait() {
#if defined(__GLIBC__)
    return stdin->_IO_read_ptr >= stdin->_IO_read_end && feof_unlocked(stdin) == 0;
#else
    return true;
#endif
}

TraceWriter::TraceWriter() : piece(static_cast<char*>(allocate_sample_memory(kPiece))) {}

TraceWriter::~TraceWriter() {
    flush();
    free_sample_memory(piece, kPiece);
}

void TraceWriter::flush() {
    // Only this thread uses the standard streams while a trace is written,
    // so their locks can be skipped.
    if (used > 0) fwrite_unlocked(piece, 1, used, stdout);
    used = 0;
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

void TraceWriter::pause() {
    if (stdin_read_may_wait()) flush();
    getchar_unlocked();
}
