// The shared pieces of the fuzz targets (see fuzz_support.h).
#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fuzz {

std::string scratch_file(std::string_view name, std::string_view text) {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/programma-fuzz-XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr, "a scratch folder is made");
        return pattern;
    }();
    // Registered after `dir` is made, so run before it is destroyed.
    static const bool removed_at_exit = std::atexit([] { std::filesystem::remove_all(dir); }) == 0;
    (void)removed_at_exit;
    const std::string path = dir + "/" + std::string(name);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    check(file.write(text.data(), std::streamsize(text.size())).flush().good(), "a scratch file is written");
    return path;
}

Printed capture(const std::function<void()>& run) {
    static const bool no_input = std::freopen("/dev/null", "r", stdin) != nullptr;
    check(no_input, "stdin reads /dev/null");
    std::fflush(stdout);
    char* text[2] = {nullptr, nullptr};
    std::size_t size[2] = {0, 0};
    std::FILE* const saved[2] = {stdout, stderr};
    stdout = ::open_memstream(&text[0], &size[0]);
    stderr = ::open_memstream(&text[1], &size[1]);
    check(stdout != nullptr && stderr != nullptr, "memory streams open");
    run();
    std::fclose(stdout);
    std::fclose(stderr);
    stdout = saved[0];
    stderr = saved[1];
    Printed printed{std::string(text[0], size[0]), std::string(text[1], size[1])};
    std::free(text[0]);
    std::free(text[1]);
    return printed;
}

std::vector<int32_t> entries_of(const std::unique_ptr<IndexList>& list) {
    std::vector<int32_t> array;
    check(list != nullptr && read_list(array, list.get()) == 0 && array.size() == list->count &&
              (list->head == nullptr) == array.empty() && (list->tail == nullptr) == array.empty(),
          "a list's entries agree with its count, head and tail");
    return array;
}

void check(bool ok, const char* what) {
    if (ok) return;
    ::dprintf(2, "fuzz check failed: %s\n", what);  // descriptor 2: stderr may be captured
    std::abort();
}

}  // namespace fuzz
