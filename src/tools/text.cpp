// One formatter for digit-tools' Markdown and CSV tables.
#include "text.h"

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
