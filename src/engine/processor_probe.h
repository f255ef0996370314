// The processor's vector abilities, asked once per process, and the vector
// level every fast path of the engine may use in a call: what the processor
// has, capped by the call's settings (widest). The batch kernels, the NaN
// scan, the vector exp and the short-decimal scanner all ask here.
#pragma once

#include <algorithm>

#include "engine_settings.h"

struct ProcessorAbilities {
    VectorLevel widest = VectorLevel::scalar;  // what the processor and its system enable
    bool sse41 = false;
};

// Asks the processor; processor_abilities() keeps the answer.
ProcessorAbilities probe_processor();

inline const ProcessorAbilities& processor_abilities() {
    static const ProcessorAbilities asked = probe_processor();
    return asked;
}

// The level the fast paths may use: the processor's, capped by the setting.
inline VectorLevel usable_vector_level(const EngineSettings& settings) {
    return std::min(processor_abilities().widest, settings.widest);
}

// Whether the SSE4.1 short-decimal scanner may run: the processor has
// SSE4.1 and the setting is not scalar.
inline bool short_decimal_scan_usable(const EngineSettings& settings) {
    return processor_abilities().sse41 && settings.widest != VectorLevel::scalar;
}
