// Short plain decimals read in one step with SSE4.1: the loader's fast path
// for numbers such as "-0.99967986", "1" or "0.5".
#pragma once

#include "engine_settings.h"

// Reads the token at p when it is a plain decimal of at most 15 bytes
// ("-", digits, at most one '.') followed by a blank or a line end, and
// returns its length, with value as strtof reads it; returns 0 (value
// untouched) for anything else, for a value it cannot round as strtof does,
// and wherever short_decimal_scan_usable(settings) is false. The 16 bytes
// from p must be readable.
int scan_short_decimal(const char* p, float& value, const EngineSettings& settings);

// The scan alone, for a caller that asked short_decimal_scan_usable() once
// for many numbers.
int scan_short_decimal_sse41(const char* p, float& value);
