// Fast "%f" formatting for the report and trace lines: the same characters
// printf("%f") writes for a double (six decimals, round half to even on exact
// ties, "nan"/"inf" with their signs), without printf's overhead.
#pragma once

#include <cstddef>
#include <cstdint>

// Maximum characters written by format_fixed6 for any value.
constexpr std::size_t kFixed6Max = 330;

// Writes value as printf("%f") would into buffer (no terminator); returns the
// character count.
std::size_t format_fixed6(double value, char* buffer);

// Writes value as printf("%u") would; returns the character count.
std::size_t format_unsigned(uint32_t value, char* buffer);
