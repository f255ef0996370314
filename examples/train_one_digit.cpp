// Trains and tests one digit's recogniser through the library API: the
// same gaussian run as `programma -dg 3 -e 5 -k gauss`, with the same
// mistake list and the same error rates, but nothing printed by the library
// and no prompt.
//
// Usage: train_one_digit [TRAINING_SET TEST_SET]
#include <cstdio>
#include <string>

#include "programma/api.h"

int main(int argc, char** argv) {
    const std::string training_path = argc > 2 ? argv[1] : "Data/Training_set";
    const std::string test_path = argc > 2 ? argv[2] : "Data/Test_set";

    const programma::Result<programma::SampleSet> training = programma::read_samples(training_path);
    const programma::Result<programma::SampleSet> test = programma::read_samples(test_path);
    for (const auto* set : {&training, &test}) {
        if (!*set) {
            std::fprintf(stderr, "train_one_digit: %s\n", set->error().message().c_str());
            return 1;
        }
    }

    const programma::Recogniser three{3, programma::KernelSpec{programma::KernelKind::gaussian, 3.0f}, 5};
    const programma::Result<programma::Trained> trained = programma::train(training.value(), three);
    if (!trained) {
        std::fprintf(stderr, "train_one_digit: %s\n", trained.error().message().c_str());
        return 1;
    }
    const programma::Result<programma::TestResult> tested =
        programma::test(training.value(), three, trained.value().mistakes, test.value());
    if (!tested) {
        std::fprintf(stderr, "train_one_digit: %s\n", tested.error().message().c_str());
        return 1;
    }
    std::printf("digit 3: %zu mistakes, training error %f%%, test error %f%% (%u wrong saying 1, %u saying -1)\n",
                trained.value().mistakes.size(), static_cast<double>(trained.value().training_error * 100.0f),
                static_cast<double>(tested.value().error * 100.0f), tested.value().wrong_plus,
                tested.value().wrong_minus);
    return 0;
}
