// Short plain decimals read in one step with SSE: the loader's fast path
// for numbers such as "-0.99967986", "1" or "0.5".
#pragma once

#include <cstdint>

// The float nearest digits / 10^decimals (negated when negative), as strtof
// rounds it. False, leaving value alone, when that quotient is not an exact
// double (digits from 2^53, more than 22 decimals) or falls exactly halfway
// between two floats: the caller then reads the number another way.
bool decimal_to_float(uint64_t digits, int decimals, bool negative, float& value);

// Reads the token at p when it is a plain decimal of at most 15 bytes
// ("-", digits, at most one '.') followed by a blank or a line end, and
// returns its length; returns 0 (value untouched) for anything else. The 16
// bytes from p must be readable.
int scan_short_decimal(const char* p, float& value);
