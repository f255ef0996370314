// The kernel choice of a kernel-perceptron recogniser: which kernel, and its
// one parameter. Shared by the reference modules, the engine, the front end,
// the library API, digit-tools and the Python package.
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

// The one place a KernelSpec is made from a kind and both parameters: the
// kind picks which of the two applies.
constexpr KernelSpec kernel_spec(KernelKind kind, float degree, float constant) {
    switch (kind) {
        case KernelKind::polynomial: return KernelSpec{kind, degree};
        case KernelKind::gaussian: return KernelSpec{kind, constant};
    }
    return KernelSpec{kind, degree};  // not reached: every kind is named above
}

}  // namespace programma
