// Fuzz target: IDX image and label files. The first byte picks --resample
// (0 to 7) and --scale, the second where the input splits into the two
// files. A conversion that succeeds must load as one row per image, of
// side * side values in 0..255 (or -1..1 scaled) and the label byte.
#include "idx.h"
#include "tools_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    IdxOptions options;
    options.resample = data[0] % 8;
    options.scale = (data[0] & 0x80) != 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t cut = std::min<std::size_t>(data[1], rest.size());
    const std::string_view labels = rest.substr(0, cut), images = rest.substr(cut);
    const std::optional<std::string> samples =
        fuzz::converted([&] { return idx_to_samples(images, "images", labels, "labels", options); });
    if (!samples || samples->empty()) return 0;
    const programma::SampleSet set = fuzz::loaded(*samples, "converted IDX loads as a sample set");
    const IdxArray label_array = parse_idx(labels, "labels");
    fuzz::check(set.rows() == label_array.dims[0], "one row per image");
    const float low = options.scale ? -1.0f : 0.0f, high = options.scale ? 1.0f : 255.0f;
    for (uint32_t r = 0; r < set.rows(); ++r) {
        for (uint32_t c = 0; c < set.features(); ++c) {
            fuzz::check(set.row(r)[c] >= low && set.row(r)[c] <= high, "every value within the pixel range");
        }
        fuzz::check(set.label(r) == float(uint8_t(label_array.bytes[r])), "the label is the label byte");
    }
    return 0;
}
