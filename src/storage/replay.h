// Replay: one pass in log order over the committed part of the log (offset 64 to the committed
// length) that checks every frame, sequence, batch and record, and returns the Roles and Posits in
// log order with the counters the writer continues from. Records count only once the Commit that
// closes their batch has been read and checked; a committed length inside a batch is corruption.
// Pure reader: nothing on disk changes, nothing partial is returned (a sink, though, is handed the
// records before the log is known to be sound: see ReplaySink).
//
// A large log is read in windows: the frames of a window are delimited in order, then their
// checksums are verified and their Posits decoded on a few threads, and the pass applies them in
// order as before. Every check still happens at its place in the pass, so a damaged log reports the
// same first error either way. The threads live for one call and are joined before it returns.
//
// Records are applied as they are read rather than when their batch's Commit arrives: the first
// failing record stops applying and its failure waits for that Commit, so whatever the pass would
// have met first (a damaged frame, a bad Commit, a log ending inside the batch) still comes first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "storage/fs.h"
#include "storage/store.h"

namespace brackwater::storage {

struct ReplayTuning {
  uint64_t parallel_from = uint64_t(4) << 20;  // committed bytes from which windows are used
  size_t window = size_t(4) << 20;             // bytes read per window (more for a larger frame)
  unsigned threads = 0;                        // threads per window, the caller's included; 0: the cores, up to 8
};

// With a sink, the Posits go to it a window (or a few thousand) at a time, and the returned log has none.
Result<ReplayedLog> replay(Fs& fs, Fd log, uint64_t committed_length, const ReplayTuning& tuning = {},
                           ReplaySink* sink = nullptr);

}  // namespace brackwater::storage
