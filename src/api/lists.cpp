// Mistake lists through the library: reading one back with the check that
// every entry names a training row, and the safe save. Uses the reference
// modules only, so that both programs can share it.
#include <string>

#include "diagnostics.h"
#include "file_lib.h"
#include "mistake_file.h"
#include "programma/api.h"

namespace programma {

Status check_list(const std::vector<int32_t>& mistakes, uint32_t training_rows, const std::string& path) {
    for (std::size_t entry = 0; entry < mistakes.size(); ++entry) {
        const auto index = static_cast<uint32_t>(mistakes[entry]);
        if (index >= training_rows) {
            return Error{ErrorKind::bad_data,
                         "entry " + std::to_string(entry + 1) + " (index " + std::to_string(index) +
                             ") names no row of the " + std::to_string(training_rows) + "-row training set",
                         path,
                         0,
                         0,
                         {}};
        }
    }
    return Done{};
}

Result<std::vector<int32_t>> restore_list(const std::string& path, uint32_t training_rows) {
    std::unique_ptr<IndexList> list;
    DiagnosticCapture capture;
    if (::restore_list(path.c_str(), list) != 0 || !list) return capture.error();
    std::vector<int32_t> mistakes;
    read_list(mistakes, list.get());
    if (Status checked = check_list(mistakes, training_rows, path); !checked) return checked.error();
    return mistakes;
}

Status save_list(const std::string& path, const std::vector<int32_t>& mistakes) {
    DiagnosticCapture capture;
    if (!save_text(path.c_str(), list_text(mistakes))) return capture.error();
    return Done{};
}

}  // namespace programma
