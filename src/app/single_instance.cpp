#include "app/single_instance.h"

#include <thread>

namespace modGetExternalIP {

namespace {

// A check run's hold is short next to a person's patience; a few tries a second are plenty.
constexpr std::chrono::milliseconds kRetryPause{200};

} // namespace

std::unique_ptr<SingleInstance> AwaitSingleInstance(std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        auto guard = std::make_unique<SingleInstance>();
        if (guard->Acquired() || std::chrono::steady_clock::now() >= end) {
            return guard;
        }
        guard.reset(); // let go of the file before the pause
        std::this_thread::sleep_for(kRetryPause);
    }
}

} // namespace modGetExternalIP
