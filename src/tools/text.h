// The text digit-tools prints: its reports on standard output, the tables
// in them (Markdown or CSV, in one formatter), numbers by printf's formats,
// and progress lines on a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Writes a report to standard output, unbuffered; a failed write is
// reported at the end (standard_output_ok).
void print(std::string_view text);

// Writes bytes to standard output as they are; false, with errno set, when
// a write fails.
bool write_standard_output(std::string_view bytes);

// Whether every write to standard output went through; false after the
// message, with the system's reason, on standard error.
bool standard_output_ok();

// A line "digit-tools: TEXT" on standard error, only when it is a terminal.
void progress(const std::string& text);

// What printf prints for `format` and the values (in the C locale): how a
// report shows a number, such as "%f" for a percentage as programma shows it.
[[gnu::format(printf, 1, 2)]] std::string printed(const char* format, ...);

using TableRows = std::vector<std::vector<std::string>>;

// The rows of a table, the first one its header: Markdown ("| a | b |" with
// a rule of right-aligned columns under the header), or CSV ("a,b").
std::string format_table(const TableRows& rows, bool csv);
