// Waiting for the engine-wide lock without ever blocking on it.
//
// Script execution and the Terrain capture take the engine-wide lock by polling: try to take it;
// when it is busy, give up with `Cancelled` if the cancel flag is set, else with `TimedOut`
// (TimedOut) if a deadline exists and has been reached, else sleep 1 ms and try again. The first try
// comes before any check, so a free lock is taken even when the flag is set or the deadline has
// passed; without a deadline the wait ends only by taking the lock or by cancellation. A poisoned
// lock gives `LockPoisoned` and is released again at once.
#pragma once

#include <atomic>
#include <optional>

#include "construct/deadline.h"
#include "construct/error.h"
#include "construct/poison_mutex.h"

namespace brackwater::construct {

using DatabaseGuard = PoisonGuard<Unit>;

Result<DatabaseGuard> lock_database_cancellable(PoisonMutex<Unit>& lock, const std::atomic<bool>& cancel,
                                                const std::optional<Deadline>& deadline);

}  // namespace brackwater::construct
