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

Status check_options(const EngineOptions& options) {
    if (options.threads == 0) {
        return Error{ErrorKind::invalid_argument, "the engine needs at least one thread", {}, 0, 0, "threads"};
    }
    const std::lock_guard<std::mutex> lock(hook_mutex());
    if (call_hook()) call_hook()(options);
    return Done{};
}

void set_call_hook(std::function<void(const EngineOptions&)> hook) {
    const std::lock_guard<std::mutex> lock(hook_mutex());
    call_hook() = std::move(hook);
}

}  // namespace programma
