// Fuzz target: a model file as the library reads it. A refusal is bad data
// naming the file; what parses passes the model's check, writes text that
// reads back to the same text, and scores a row of its width without fault.
#include "fuzz_support.h"
#include "programma/model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const auto parsed = programma::parse_model(std::string_view(reinterpret_cast<const char*>(data), size), "m");
    if (!parsed) {
        fuzz::check(parsed.error().path == "m" && parsed.error().kind == programma::ErrorKind::bad_data,
                    "a refusal is bad data naming the file");
        return 0;
    }
    const programma::Model& model = parsed.value();
    fuzz::check(programma::check(model).ok(), "what parses passes the check");
    const std::string text = programma::model_text(model).value();
    const auto again = programma::parse_model(text, "m");
    fuzz::check(again.ok() && programma::model_text(again.value()).value() == text, "writing is a fixed point");
    if (model.features > 64 || model.support.size() > 64) return 0;
    const std::vector<float> row(model.features, 0.5f);
    const float label = 0.0f;
    const auto sample = programma::samples_from_memory(row.data(), &label, 1, model.features).value();
    const auto scores = programma::model_scores(model, sample);
    fuzz::check(scores.ok() && scores.value().size() == programma::recogniser_count(model), "a model scores a row");
    return 0;
}
