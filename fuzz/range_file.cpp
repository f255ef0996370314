// Fuzz target: svm-scale's range file as the library reads it. A refusal
// names the file (and, past the first lines, the line); what parses passes
// the ranges' check, formats to text that parses to the same ranges, and
// formatting that again gives the same text.
#include "fuzz_support.h"
#include "programma/preparation.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto parsed = programma::parse_ranges(std::string_view(reinterpret_cast<const char*>(data), size), "r");
    if (!parsed) {
        fuzz::check(parsed.error().path == "r" && parsed.error().kind == programma::ErrorKind::bad_data,
                    "a refusal is bad data naming the file");
        return 0;
    }
    fuzz::check(programma::check(parsed.value()).ok(), "what parses passes the check");
    const std::string text = programma::ranges_text(parsed.value()).value();
    const auto again = programma::parse_ranges(text, "r");
    fuzz::check(again.ok() && programma::ranges_text(again.value()).value() == text, "formatting is a fixed point");
    fuzz::check(again.value().lower == parsed.value().lower && again.value().upper == parsed.value().upper,
                "the bounds come back");
    return 0;
}
