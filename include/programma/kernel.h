// The kernel choice of a kernel-perceptron recogniser: which kernel, and its
// one parameter. Shared by the reference modules, the engine, the front end,
// the library API and digit-tools.
#pragma once

#include <cstdint>

namespace programma {

// The stored values are the ones the kind has always had (0 and 1), so a
// kernel kind written as a number keeps its meaning.
enum class KernelKind : int32_t { polynomial = 0, gaussian = 1 };

// The kernel passed by value to training and testing: the polynomial degree
// or the gaussian constant, by kind.
struct KernelSpec {
    KernelKind kind = KernelKind::polynomial;
    float parameter = 0.0f;
};

// The one place a KernelSpec is made from the settings: the kind picks which
// of the two parameters applies.
constexpr KernelSpec kernel_spec(KernelKind kind, float polinomial_degree, float gaussian_c) {
    switch (kind) {
        case KernelKind::polynomial: return KernelSpec{kind, polinomial_degree};
        case KernelKind::gaussian: return KernelSpec{kind, gaussian_c};
    }
    return KernelSpec{kind, polinomial_degree};  // not reached: every kind is named above
}

}  // namespace programma
