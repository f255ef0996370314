// Fuzz target: the lists manifest, its labels and list hashes included.
// What parses formats to text that parses to the same manifest, and
// formatting that again gives the same text; its labels ascend, and it
// hashes no list or one for each label.
#include <algorithm>
#include <cmath>
#include <functional>
#include "manifest.h"

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    std::string problem;
    const std::optional<Manifest> manifest =
        parse_manifest(std::string_view(reinterpret_cast<const char*>(data), size), problem);
    fuzz::check(manifest.has_value() == problem.empty(), "a refusal says why, an acceptance does not");
    if (!manifest) return 0;
    const std::string text = format_manifest(*manifest);
    const std::optional<Manifest> again = parse_manifest(text, problem);
    fuzz::check(again.has_value(), "a formatted manifest parses");
    fuzz::check(format_manifest(*again) == text, "formatting is a fixed point");
    fuzz::check(std::isnan(manifest->kernel.parameter) || *again == *manifest, "parsing keeps every setting");
    const std::vector<float>& labels = manifest->labels;
    fuzz::check(std::adjacent_find(labels.begin(), labels.end(), std::greater_equal<float>()) == labels.end(),
                "labels ascend, each once");
    fuzz::check(manifest->list_hashes.empty() || manifest->list_hashes.size() == manifest->labels.size(),
                "a manifest hashes no list or every one");
    return 0;
}
