// Sample-set files, measured and loaded the plain way: one pass counts the
// sample lines and the numbers of the first one, a second reads every
// number as strtof does in the C locale and checks each line's width.
// Mistake-list files are saved and restored through mistake_file.
#include "file_lib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diagnostics.h"
#include "mistake_file.h"
#include "sample_text.h"

namespace {

constexpr std::size_t kReadBlock = std::size_t(64) << 10;

const char* read_token_strtof(const char* p, const char* end, const char*, float& value) {
    const std::string_view token = token_at(p, end);
    return read_number_strtof(token, value) ? token.data() + token.size() : nullptr;
}

}  // namespace

void* allocate_plain(std::size_t bytes) {
    if (void* block = std::malloc(bytes == 0 ? 1 : bytes)) return block;
    throw std::bad_alloc();
}

void release_plain(void* block, std::size_t) { std::free(block); }

int line_counter(const char* path, Dims& dims) {
    SampleFile file(open_sample_file(path));
    if (file.fd < 0) return 1;
    unsigned long long rows = 0;
    std::size_t columns = 0;
    std::string buffer;
    const int failure = for_each_line(file.fd, 0, kToEnd, kReadBlock, buffer, [&](std::string_view line, const char*) {
        if (rows == 0) {
            columns = count_tokens(line);
            if (columns == 0) return true;
        } else if (!has_content(line)) {
            return true;
        }
        ++rows;
        return true;
    });
    if (failure != 0) {
        report_read_failure(path, failure);
        return 1;
    }
    return counted_dims(path, rows, columns, dims);
}

int read_file(SampleMatrix& matrix, uint32_t columns, uint32_t rows, const char* path) {
    SampleFile file(open_sample_file(path));
    if (file.fd < 0) return 1;
    matrix = SampleMatrix{};
    matrix.columns = columns;
    SampleValues& values = matrix.values;
    // Reserve no more than the file could hold (a number takes at least two
    // bytes), so a ragged file is reported rather than over-allocated.
    std::size_t bound = std::size_t(rows) * columns;
    struct stat info {};
    if (::fstat(file.fd, &info) == 0 && S_ISREG(info.st_mode)) {
        bound = std::min<std::size_t>(bound, std::size_t(info.st_size) / 2 + columns);
    }
    values.reserve(bound);

    std::vector<float> row(columns);
    std::string problem;
    std::string buffer;
    uint32_t loaded = 0;
    unsigned long long line_number = 0;
    bool ok = true;
    const int failure =
        for_each_line(file.fd, 0, kToEnd, kReadBlock, buffer, [&](std::string_view line, const char* readable) {
            ++line_number;
            const LineKind kind = parse_sample_line(line, columns, row.data(), problem, readable, read_token_strtof);
            if (kind == LineKind::blank) return true;
            if (kind == LineKind::bad) {
                report_bad_line(path, line_number, problem);
                return ok = false;
            }
            if (loaded == rows) {
                report_file_problem(programma::ErrorKind::bad_data, path, line_number, 0,
                                    "more sample lines than were counted (the file changed)");
                return ok = false;
            }
            values.insert(values.end(), row.begin(), row.end());
            ++loaded;
            return true;
        });
    if (failure != 0) {
        report_read_failure(path, failure);
        return 1;
    }
    if (!ok) return 1;
    if (loaded != rows) {
        report_changed_count(path, loaded, rows);
        return 1;
    }
    matrix.rows = rows;
    return 0;
}

int dump_file(std::unique_ptr<IndexList>& list, const char* path, uint8_t delete_flag) {
    std::vector<int32_t> entries;
    if (read_list(entries, list.get()) == -1) return 1;
    if (!save_text(path, list_text(entries))) return 1;
    if (delete_flag != 0) del_list(list);
    return 0;
}

int restore_list(const char* path, std::unique_ptr<IndexList>& list) {
    std::string text;
    if (!read_text_file(path, text)) return 1;
    create_list(list);
    for (uint32_t index : parse_list_text(text)) add_list(static_cast<int32_t>(index), list);
    return 0;
}
