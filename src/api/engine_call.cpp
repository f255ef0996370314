// The options of each call, checked and handed to the engine.
#include "engine_call.h"

#include <mutex>
#include <utility>

namespace programma {
namespace {

std::mutex& hook_mutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const EngineOptions&)>& call_hook() {
    static std::function<void(const EngineOptions&)> hook;
    return hook;
}

}  // namespace

::VectorLevel engine_level(VectorLevel level) {
    switch (level) {
        case VectorLevel::scalar: return ::VectorLevel::scalar;
        case VectorLevel::avx2: return ::VectorLevel::avx2;
        case VectorLevel::avx512: return ::VectorLevel::avx512;
    }
    return ::VectorLevel::avx512;  // not reached: every level is named above
}

VectorLevel library_level(::VectorLevel level) {
    switch (level) {
        case ::VectorLevel::scalar: return VectorLevel::scalar;
        case ::VectorLevel::avx2: return VectorLevel::avx2;
        case ::VectorLevel::avx512: return VectorLevel::avx512;
    }
    return VectorLevel::avx512;  // not reached: every level is named above
}

Result<EngineSettings> engine_settings_for(const EngineOptions& options) {
    if (options.threads == 0) {
        return Error{ErrorKind::invalid_argument, "the engine needs at least one thread", {}, 0, 0, "threads"};
    }
    {
        const std::lock_guard<std::mutex> lock(hook_mutex());
        if (call_hook()) call_hook()(options);
    }
    EngineSettings settings;
    settings.threads = options.threads;
    settings.cache_bytes = options.cache_bytes;
    settings.widest = engine_level(options.widest);
    settings.pin_workers = options.pin_workers;
    settings.bind_caller = options.bind_caller;
    return settings;
}

void set_call_hook(std::function<void(const EngineOptions&)> hook) {
    const std::lock_guard<std::mutex> lock(hook_mutex());
    call_hook() = std::move(hook);
}

}  // namespace programma
