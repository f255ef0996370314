// The tables digit-tools prints: one formatter for Markdown and CSV, shared
// by every command that reports a table.
#pragma once

#include <string>
#include <vector>

using TableRows = std::vector<std::vector<std::string>>;

// The rows of a table, the first one its header: Markdown ("| a | b |" with
// a rule of right-aligned columns under the header), or CSV ("a,b").
std::string format_table(const TableRows& rows, bool csv);
