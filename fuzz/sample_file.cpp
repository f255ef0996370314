// Fuzz target: measuring and loading a sample-set file.
//
// The input is written to a file that line_counter measures and read_file
// loads twice: with the fast engine (the streaming loader and its fast number
// parser) and with the reference arithmetic (strtof for every token). The
// reference reader (sample_reference.h), built on strtof itself, says what
// each outcome must be: whether the file is accepted, its rows and columns,
// every value bit for bit (the loader promises to read numbers exactly as
// strtof does), and the whole diagnostic of a refused file, with its line.
#include "engine_settings.h"
#include "sample_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::quiet_stdio();
    static const std::string path = fuzz::scratch_path("samples");
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzz::write_file(path, text);

    set_fast_engine(true);
    fuzz::check_load(path, text);
    set_fast_engine(false);
    fuzz::check_load(path, text);
    set_fast_engine(true);
    return 0;
}
