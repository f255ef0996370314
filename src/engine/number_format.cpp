// "%f" in integer arithmetic: a double is m * 2^e exactly, so value * 10^6
// can be formed exactly in 128 bits for every value below 2^44 and rounded
// half to even, as printf does in the default rounding mode. Larger values
// (never seen in reports) go through snprintf itself.
#include "number_format.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// "00" "01" ... "99": two digits per table step halves the chain of
// divisions that writing a number takes.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[std::size_t(2 * i)] = char('0' + i / 10);
        pairs[std::size_t(2 * i + 1)] = char('0' + i % 10);
    }
    return pairs;
}();

void write_pair(uint32_t value, char* at) { std::memcpy(at, &kDigitPairs[2 * value], 2); }

std::size_t write_digits(uint64_t value, char* buffer) {
    char digits[24];
    char* const end = digits + sizeof digits;
    char* start = end;
    while (value >= 100) {
        const uint64_t quotient = value / 100;
        start -= 2;
        write_pair(uint32_t(value - quotient * 100), start);
        value = quotient;
    }
    if (value >= 10) {
        start -= 2;
        write_pair(uint32_t(value), start);
    } else {
        *--start = char('0' + value);
    }
    const std::size_t count = std::size_t(end - start);
    std::memcpy(buffer, start, count);
    return count;
}

// The six decimals of a fraction below 10^6, as three pairs.
void write_six_digits(uint32_t fraction, char* buffer) {
    const uint32_t high = fraction / 10000;
    const uint32_t rest = fraction - high * 10000;
    const uint32_t middle = rest / 100;
    write_pair(high, buffer);
    write_pair(middle, buffer + 2);
    write_pair(rest - middle * 100, buffer + 4);
}

// n * 10^6 / 2^shift rounded half to even, in the integer type T wide enough
// for n * 10^6.
template <typename T>
uint64_t rounded_quotient(T product, int shift) {
    const T quotient = product >> shift;
    const T remainder = product - (quotient << shift);
    const T half = static_cast<T>(1) << (shift - 1);
    uint64_t rounded = static_cast<uint64_t>(quotient);
    if (remainder > half || (remainder == half && (rounded & 1) != 0)) ++rounded;
    return rounded;
}

// value * 10^6 rounded half to even, for 0 <= value < 2^44.
uint64_t scaled_micro_units(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    if (mantissa == 0 && biased == 0) return 0;
    int shift = 1075 - biased;  // value = mantissa / 2^shift
    if (biased == 0) {
        shift = 1074;  // subnormal
    } else {
        mantissa |= uint64_t(1) << 52;
    }
    // Dropping trailing zero bits keeps floats' mantissas within 24 bits, so
    // the common case stays in 64-bit arithmetic.
    const int zeros = __builtin_ctzll(mantissa);
    mantissa >>= zeros;
    shift -= zeros;
    if (shift <= 0) return mantissa * 1000000u << -shift;
    if (mantissa < (uint64_t(1) << 44) && shift < 64) {
        return rounded_quotient<uint64_t>(mantissa * 1000000u, shift);
    }
    if (shift >= 127) return 0;  // below half a unit after scaling
    return rounded_quotient<unsigned __int128>(static_cast<unsigned __int128>(mantissa) * 1000000u, shift);
}

}  // namespace

std::size_t format_unsigned(uint32_t value, char* buffer) { return write_digits(value, buffer); }

std::size_t format_fixed6(double value, char* buffer) {
    std::size_t length = 0;
    if (std::signbit(value)) buffer[length++] = '-';
    if (std::isnan(value)) {
        std::memcpy(buffer + length, "nan", 3);
        return length + 3;
    }
    const double magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
        std::memcpy(buffer + length, "inf", 3);
        return length + 3;
    }
    if (magnitude >= 17592186044416.0) {  // 2^44
        return static_cast<std::size_t>(std::snprintf(buffer, kFixed6Max, "%f", value));
    }
    const uint64_t micro_units = scaled_micro_units(magnitude);
    length += write_digits(micro_units / 1000000u, buffer + length);
    buffer[length++] = '.';
    write_six_digits(uint32_t(micro_units % 1000000u), buffer + length);
    return length + 6;
}
