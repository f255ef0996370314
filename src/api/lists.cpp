// Mistake lists through the library: read back strictly (every line one row
// index naming a training row, the file read once), and the safe save. Uses
// the reference modules only, so that both programs can share it.
#include <algorithm>
#include <string>

#include "diagnostics.h"
#include "mistake_file.h"
#include "programma/api.h"
#include "safe_call.h"

namespace programma {
namespace {

// A list's text read in pieces as they come: each line a row index (digits
// alone; a carriage return may end it), each index a row of the training
// set. The first line at fault ends the reading.
class ListReader {
public:
    ListReader(uint32_t training_rows, const std::string& path) : rows_(training_rows), path_(path) {}

    Status feed(std::string_view bytes) {
        for (const char c : bytes) {
            if (c == '\n') {
                if (Status ended = end_line(); !ended) return ended;
            } else if (carriage_return_ || (c != '\r' && (c < '0' || c > '9'))) {
                return not_an_index();
            } else if (c == '\r') {
                carriage_return_ = true;
            } else {
                digits_ += c;
            }
        }
        return Done{};
    }

    Result<std::vector<int32_t>> finish() {
        if (!digits_.empty() || carriage_return_) {
            if (Status ended = end_line(); !ended) return ended.error();
        }
        return std::move(entries_);
    }

private:
    Error not_an_index() const {
        return Error{ErrorKind::bad_data, "is not one row index (a list holds one index a line)", path_, line_, 0, {}};
    }

    Status end_line() {
        if (digits_.empty()) return not_an_index();
        uint64_t index = 0;
        for (const char digit : digits_) index = std::min<uint64_t>(index * 10 + uint64_t(digit - '0'), rows_);
        if (index >= rows_) {
            return Error{ErrorKind::bad_data, unknown_row(entries_.size() + 1, digits_, rows_), path_, 0, 0, {}};
        }
        entries_.push_back(int32_t(index));
        digits_.clear();
        carriage_return_ = false;
        ++line_;
        return Done{};
    }

    uint32_t rows_;
    const std::string& path_;
    std::vector<int32_t> entries_;
    std::string digits_;  // of the line read so far, as written
    bool carriage_return_ = false;
    uint64_t line_ = 1;
};

}  // namespace

Status check_list(const std::vector<int32_t>& mistakes, uint32_t training_rows, const std::string& path) {
    for (std::size_t entry = 0; entry < mistakes.size(); ++entry) {
        if (mistakes[entry] < 0 || uint32_t(mistakes[entry]) >= training_rows) {
            return Error{ErrorKind::bad_data,
                         unknown_row(entry + 1, std::to_string(mistakes[entry]), training_rows),
                         path,
                         0,
                         0,
                         {}};
        }
    }
    return Done{};
}

Result<std::vector<int32_t>> parse_list(std::string_view text, uint32_t training_rows, const std::string& path) {
    return guarded<std::vector<int32_t>>(
        [&]() -> Result<std::vector<int32_t>> {
            ListReader reader(training_rows, path);
            if (Status fed = reader.feed(text); !fed) return fed.error();
            return reader.finish();
        },
        path);
}

Result<std::vector<int32_t>> restore_list(const std::string& path, uint32_t training_rows) {
    if (Status named = check_path(path); !named) return named.error();
    return guarded<std::vector<int32_t>>(
        [&]() -> Result<std::vector<int32_t>> {
            ListReader reader(training_rows, path);
            Status fed = Done{};
            DiagnosticCapture capture;
            const bool read = read_file_blocks(path.c_str(), [&](std::string_view block) {
                fed = reader.feed(block);
                return fed.ok();
            });
            if (!read) return capture.error();
            if (!fed) return fed.error();
            return reader.finish();
        },
        path);
}

Status save_list(const std::string& path, const std::vector<int32_t>& mistakes) {
    if (Status named = check_path(path); !named) return named;
    return guarded<Done>(
        [&]() -> Status {
            DiagnosticCapture capture;
            if (!save_text(path.c_str(), list_text(mistakes))) return capture.error();
            return Done{};
        },
        path);
}

}  // namespace programma
