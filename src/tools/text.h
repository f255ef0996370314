// The text digit-tools prints: its reports on standard output, and the
// tables in them, Markdown or CSV, in one formatter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Writes a report to standard output (its failures are found at the end).
void print(std::string_view text);

using TableRows = std::vector<std::vector<std::string>>;

// The rows of a table, the first one its header: Markdown ("| a | b |" with
// a rule of right-aligned columns under the header), or CSV ("a,b").
std::string format_table(const TableRows& rows, bool csv);
