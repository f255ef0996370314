// Replays files through a fuzz target without libFuzzer, so that ordinary
// builds run the committed corpus under ctest. Usage: fuzz_replay_NAME
// PATH... (a folder stands for its files).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "fuzz_support.h"

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (!fs::is_directory(argv[i]))
            files.emplace_back(argv[i]);
        else
            for (const fs::directory_entry& entry : fs::directory_iterator(argv[i])) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& file : files) {
        std::ifstream stream(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(stream)), {});
        std::fprintf(stderr, "replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
        if (!stream) return 2;
        // A copy of exactly the input's size, so that a read past its end is caught.
        const auto input = std::make_unique<uint8_t[]>(bytes.size());
        std::memcpy(input.get(), bytes.data(), bytes.size());
        LLVMFuzzerTestOneInput(input.get(), bytes.size());
    }
    std::fprintf(stderr, "replay: %zu inputs passed\n", files.size());
    return files.empty() ? 2 : 0;
}
