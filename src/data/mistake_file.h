// The mistake-list file on disk: its text, the safe replacement of a saved
// file, and reading one back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One index per line, each written as "%u" and a newline.
std::string list_text(const std::vector<int32_t>& entries);

// Writes `text` to the file at `path`, following symbolic links: a new or
// regular file is replaced through a temporary file beside it, synced and
// renamed into place, so it holds either its old content or all of the new;
// a regular file the user may not write is refused; one in a folder where no
// temporary file can be made is written in place and synced; a device or
// FIFO is written in place. Returns false after a diagnostic naming `path`,
// leaving a refused file as it was.
bool save_text(const char* path, std::string_view text);

// Reads a whole file; false after a diagnostic naming it.
bool read_text_file(const char* path, std::string& text);

// Reads a file once, handing on_block(bytes) each block in order while it
// returns true; false after a diagnostic naming the file when it cannot be
// opened or read (a block refused is no failure of the file's).
bool read_file_blocks(const char* path, const std::function<bool(std::string_view)>& on_block);

// Why a list entry names no row: "entry N (index X) names no row of the
// R-row training set", the entry counted from 1 and the index as shown.
std::string unknown_row(std::size_t entry, std::string_view index, uint32_t training_rows);

// The entries of a list file: unsigned decimals separated by white space, up
// to the first thing that is not one. A negative number, or one beyond 32
// bits, becomes the largest index, which names no row.
std::vector<uint32_t> parse_list_text(std::string_view text);
