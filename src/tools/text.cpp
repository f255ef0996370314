// Reports on standard output, and one formatter for their Markdown and CSV
// tables.
#include "text.h"

#include <cstdio>

void print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string format_table(const TableRows& rows, bool csv) {
    std::string text;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            text += csv ? (c > 0 ? "," : "") : (c > 0 ? " | " : "| ");
            text += rows[r][c];
        }
        text += csv ? "\n" : " |\n";
        if (r == 0 && !csv) {
            for (std::size_t c = 0; c < rows[r].size(); ++c) text += "|---:";
            text += "|\n";
        }
    }
    return text;
}
