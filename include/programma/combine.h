// How the hypotheses a training went through answer together. A mistake
// list of m entries holds m + 1 hypotheses, its prefixes of 0 to m entries;
// each has a weight, the training steps it survived, counting the step
// that made it.
#pragma once

#include <cstdint>

namespace programma {

// `last`: the sum of the whole list, programma's own answer. `vote`: every
// prefix's answer (+1 when its sum is not below zero, else -1) times its
// weight, added up exactly. `average`: every prefix's sum times its weight,
// added in double precision in list order.
enum class Combine { last, average, vote };

}  // namespace programma
