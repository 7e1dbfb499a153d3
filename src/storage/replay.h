// Replay: one sequential pass over the committed part of the log (offset 64 to the committed
// length) that checks every frame, sequence, batch and record, and returns the Roles and Posits in
// log order with the counters the writer continues from. Records count only once the Commit that
// closes their batch has been read and checked; a committed length inside a batch is corruption.
// Pure reader: nothing on disk changes, nothing partial is returned.
#pragma once

#include <cstdint>

#include "storage/fs.h"
#include "storage/store.h"

namespace brackwater::storage {

Result<ReplayedLog> replay(Fs& fs, Fd log, uint64_t committed_length);

}  // namespace brackwater::storage
