// Record payloads of the log and the version 1 codec registry.
//
//   Role   (1): identity u64 (not 0) | reserved u8 (0/1) | name: UTF-8 byte string, NFC
//   Codec  (2): identifier u16 | version u16 (1) | family u8 | flags u16 (0) | name: byte string
//   Posit  (3): identity u64 | ULEB128 k | k x (Role u64, Thing u64) strictly ascending |
//               family u8 | codec u16 | codec version u16 (1) | value: byte string | time
//   Commit (255): batch u64 | first sequence u64 | last sequence u64 | ULEB128 record count
//
// Codecs: 0 "raw-utf8-token" (any family: the token text), 1 "canonical-i64" (Integer: ULEB128 of
// the ZigZag value), 2 "canonical-certainty" (Certainty: one signed byte, -100..100). A value takes
// codec 1 or 2 only when its text is exactly the canonical rendering of the decoded value, so every
// text survives the round trip byte for byte. Decoding failures are `DataCorruption`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "literal/literal.h"
#include "literal/time_value.h"
#include "storage/bytes.h"
#include "storage/store.h"

namespace brackwater::storage {

struct CodecRow {
  uint16_t id;
  uint8_t family;
  std::string_view name;
};
inline constexpr CodecRow kCodecRegistry[3] = {
    {0, 0, "raw-utf8-token"},
    {1, 2, "canonical-i64"},
    {2, 4, "canonical-certainty"},
};

// The set of declared codecs as a bit mask (bit i: codec i).
using CodecSet = uint8_t;
inline constexpr CodecSet kAllCodecs = 0b111;

struct CommitPayload {
  uint64_t batch = 0;
  uint64_t first_sequence = 0;
  uint64_t last_sequence = 0;
  uint64_t count = 0;
};

std::vector<uint8_t> encode_commit_payload(const CommitPayload& commit);

Result<ReplayedRole> decode_role(Bytes payload);
// The codec identifier of a valid registry row.
Result<uint16_t> decode_codec(Bytes payload);
// Truncated fields fail with the reader's message; bytes after the count yield `trailing` = true.
struct DecodedCommit {
  CommitPayload commit;
  bool trailing = false;
};
Result<DecodedCommit> decode_commit(Bytes payload);
// Decodes a Posit, its codec checked against `declared`; the value is re-validated. Its members
// are appended to `members` (the log's pool), which is left as it was when decoding fails.
Result<ReplayedPosit> decode_posit(Bytes payload, CodecSet declared, std::vector<ReplayedMember>& members);
// The same ahead of knowing which codecs are declared: every codec counts as declared, and `codec`
// receives the Posit's codec once it was read and accepted, even when a later field fails. A decode
// with the real set fails at the codec first exactly when `codec` is set and not in it.
Result<ReplayedPosit> decode_posit_ahead(Bytes payload, std::vector<ReplayedMember>& members,
                                         std::optional<uint16_t>& codec);
// The failure of a Posit whose codec is unknown or not yet declared.
EngineError undeclared_codec_error();

}  // namespace brackwater::storage
