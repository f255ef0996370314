// Fuzz target: mistake-list files. parse_list_text (on the input's own bytes,
// so that a read past them is caught) and restore_list (on a file) must read
// what the reference reading below reads; dump_file must write it one index a
// line, restoring that gives it back, and the delete flag releases the list.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <vector>

#include "file_lib.h"
#include "fuzz_support.h"
#include "mistake_file.h"

namespace {

// Unsigned decimals separated by white space, up to the first thing that is
// not one; a negative or over-long number becomes the largest index.
std::vector<uint32_t> reference(std::string_view text) {
    std::vector<uint32_t> entries;
    for (std::size_t i = 0;;) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        const std::size_t first = i;
        uint64_t value = 0;  // held at 2^32 once past 32 bits
        for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
            value = std::min<uint64_t>(value * 10 + uint64_t(text[i] - '0'), uint64_t(1) << 32);
        }
        if (i == first) return entries;
        entries.push_back(value > UINT32_MAX || (negative && value != 0) ? UINT32_MAX : uint32_t(value));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<uint32_t> expected = reference(text);
    fuzz::check(parse_list_text(text) == expected, "parse_list_text reads the reference entries");

    const std::string path = fuzz::scratch_file("list", text);
    std::unique_ptr<IndexList> list;
    fuzz::check(restore_list(path.c_str(), list) == 0, "a list file is restored");
    const std::vector<int32_t> entries(expected.begin(), expected.end());
    fuzz::check(fuzz::entries_of(list) == entries, "restore_list reads the reference entries");

    const std::string saved = fuzz::scratch_file("saved", "");
    fuzz::check(dump_file(list, saved.c_str(), 0) == 0 && list != nullptr, "a list is saved and kept");
    std::string saved_text;
    for (const uint32_t index : expected) saved_text += std::to_string(index) + "\n";
    std::ifstream stream(saved, std::ios::binary);
    fuzz::check(std::string(std::istreambuf_iterator<char>(stream), {}) == saved_text, "one index a line is saved");
    std::unique_ptr<IndexList> again;
    fuzz::check(restore_list(saved.c_str(), again) == 0 && fuzz::entries_of(again) == entries, "a saved list restores");
    fuzz::check(dump_file(list, saved.c_str(), 1) == 0 && list == nullptr, "the delete flag releases the list");
    return 0;
}
