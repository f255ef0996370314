// Asks the processor what it can do: the one place the engine does.
#include "processor_probe.h"

ProcessorAbilities probe_processor() {
    __builtin_cpu_init();
    ProcessorAbilities abilities;
    if (__builtin_cpu_supports("avx512f")) {
        abilities.widest = VectorLevel::avx512;
    } else if (__builtin_cpu_supports("avx2")) {
        abilities.widest = VectorLevel::avx2;
    }
    abilities.sse41 = __builtin_cpu_supports("sse4.1") != 0;
    return abilities;
}
