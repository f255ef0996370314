// Fuzz target: restoring a mistake-list file.
//
// The input is written to a file that restore_list reads. A reference reader
// says which entries it must hold (unsigned decimal numbers separated by
// white space, up to the first thing that is not one; a negative or over-long
// number becomes the largest index). The restored list is then saved with
// dump_file and restored again: the text saved must be one index per line and
// the second restore must give the same entries.
#include <cctype>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "file_lib.h"
#include "fuzz_support.h"
#include "list_lib.h"

namespace {

std::vector<int32_t> reference(std::string_view text) {
    std::vector<int32_t> entries;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        std::size_t first = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
        if (i == first) break;
        std::string_view digits = text.substr(first, i - first);
        while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
        bool zero = digits == "0";
        bool too_long = digits.size() > 10 || (digits.size() == 10 && digits > "4294967295");
        uint32_t value = UINT32_MAX;
        if (!too_long && !(negative && !zero)) value = static_cast<uint32_t>(std::stoull(std::string(digits)));
        entries.push_back(static_cast<int32_t>(value));
    }
    return entries;
}

std::vector<int32_t> entries_of(const IndexList* list) {
    std::vector<int32_t> array;
    FUZZ_CHECK(read_list(array, list) == 0);
    return array;
}

std::string read_back(const std::string& path) {
    std::string text;
    if (std::FILE* stream = std::fopen(path.c_str(), "rb")) {
        char block[4096];
        std::size_t got = 0;
        while ((got = std::fread(block, 1, sizeof block, stream)) > 0) text.append(block, got);
        std::fclose(stream);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fuzz::quiet_stdio();
    static const std::string path = fuzz::scratch_path("list");
    static const std::string saved = fuzz::scratch_path("saved");
    fuzz::write_file(path, data, size);

    std::unique_ptr<IndexList> list;
    FUZZ_CHECK(restore_list(path.c_str(), list) == 0);
    FUZZ_CHECK(list != nullptr);
    const std::vector<int32_t> restored = entries_of(list.get());
    FUZZ_CHECK(restored.size() == list->count);
    FUZZ_CHECK(restored == reference(std::string_view(reinterpret_cast<const char*>(data), size)));
    FUZZ_CHECK((list->head == nullptr) == (list->count == 0));
    FUZZ_CHECK((list->tail == nullptr) == (list->count == 0));

    FUZZ_CHECK(dump_file(list, saved.c_str(), 0) == 0);
    FUZZ_CHECK(list != nullptr);  // kept without the delete flag
    std::string expected_text;
    for (int32_t index : restored) expected_text += std::to_string(static_cast<uint32_t>(index)) + "\n";
    FUZZ_CHECK(read_back(saved) == expected_text);

    std::unique_ptr<IndexList> again;
    FUZZ_CHECK(restore_list(saved.c_str(), again) == 0);
    FUZZ_CHECK(entries_of(again.get()) == restored);

    FUZZ_CHECK(dump_file(list, saved.c_str(), 1) == 0);
    FUZZ_CHECK(list == nullptr);  // the delete flag releases it
    return 0;
}
