// Fuzz target: loading a sample-set file of 1 MiB or more, which the fast
// engine cuts into parts (at line ends) that threads read, each through a
// buffer of its own, and parse at once. The padding lines are longer than
// such a buffer, so lines that outgrow it are read too.
//
// The input goes into the middle of a file padded with two lines of blanks,
// about 512 KiB each, so the file passes 1 MiB while the reference reader
// (sample_reference.h) still only reads the input: the loader must give the
// same rows, values and diagnostics (line numbers one more, for the first
// padding line) as for the input alone. The second padding line's length
// varies with the input, so the part boundaries fall at different lines.
// Four threads are asked for, so the text is cut in four parts.
#include "engine_settings.h"
#include "sample_reference.h"

namespace {

constexpr std::size_t kPadding = 512 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::quiet_stdio();
    static const bool threads_set = (set_engine_threads(4), true);
    (void)threads_set;
    static const std::string path = fuzz::scratch_path("padded");
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Moves the middle of the file (a part boundary) anywhere in the input.
    std::size_t hash = 0;
    for (std::size_t i = 0; i < size; ++i) hash = hash * 31 + data[i];
    const std::size_t shift = size == 0 ? 0 : hash % (2 * size + 1);
    std::string padded(kPadding, ' ');
    padded += '\n';
    padded += text;
    padded += '\n';
    padded.append(kPadding + shift - size, ' ');
    fuzz::write_file(path, padded);

    set_fast_engine(true);
    fuzz::check_load(path, std::string(text) + "\n", 1);
    return 0;
}
