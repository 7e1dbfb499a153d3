// Building the model of a store while its log replays.
//
// replay_store opens the store at `path` and files its Roles and Posits into a new state in log
// order as replay applies them, so the decoded log is never held whole beside the model. Replay runs
// on a thread of its own and hands the records over a short queue, so that checking the log and
// filing the model overlap (without that thread both happen on the caller's). The first failure
// of the filing is reported once replay has succeeded; a failed replay reports its own. The state
// comes back without its store, which the caller attaches; a large log's short-lived buffers are
// handed back to the system first.
#pragma once

#include <memory>
#include <string>

#include "construct/engine_state.h"
#include "construct/error.h"
#include "storage/replay.h"
#include "storage/store.h"

namespace brackwater::construct {

struct ReplayedStore {
  std::unique_ptr<EngineState> state;
  std::unique_ptr<storage::Store> store;
  storage::ReplayedLog log;
};

Result<ReplayedStore> replay_store(const std::string& path);

}  // namespace brackwater::construct
