#include "construct/database_lock.h"

#include <chrono>
#include <thread>

namespace brackwater::construct {

Result<DatabaseGuard> lock_database_cancellable(PoisonMutex<Unit>& lock, const std::atomic<bool>& cancel,
                                                const std::optional<Deadline>& deadline) {
  for (;;) {
    if (auto attempt = lock.try_lock()) return std::move(*attempt);
    if (auto stop = check_stop(cancel, deadline); !stop) return fail(std::move(stop.error()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace brackwater::construct
