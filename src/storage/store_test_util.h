// Test helpers for the store: temporary directories and ready-made pending records.
#pragma once

#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "construct/records.h"
#include "literal/literal.h"
#include "storage/store.h"

namespace brackwater::storage::testing {

// A fresh directory under the system temporary directory, removed with its content.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bw-store-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string sub(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Appends the `width` low bytes of `v`, little-endian.
inline void put_le(std::vector<uint8_t>& b, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline PendingRecord role_record(Identity id, std::string name, bool reserved = false) {
  return encode_role_payload(construct::Role{std::move(name), id, reserved});
}

// The first batch of every store: the five built-in Roles and the three codecs.
inline std::vector<PendingRecord> genesis_records() {
  std::vector<PendingRecord> out;
  const char* names[] = {"posit", "ascertains", "thing", "class", "subclass"};
  for (Identity id = 1; id <= 5; ++id) out.push_back(role_record(id, names[id - 1], true));
  for (uint16_t codec = 0; codec < 3; ++codec) out.push_back(encode_codec_payload(codec));
  return out;
}

// Builds Posit records over Roles it owns (model records must outlive their handles).
class PositFactory {
 public:
  // A Posit `id` with the given (Role identity, Thing identity) members.
  PendingRecord make(Identity id, const std::vector<std::pair<Identity, Identity>>& members, const std::string& text,
                     literal::LiteralKind kind = literal::LiteralKind::String,
                     literal::TimeValue time = literal::TimeValue::bot()) {
    construct::AppearanceSet set;
    for (auto [role, thing] : members) {
      roles_.push_back(construct::Role{"r" + std::to_string(role), role, false});
      appearances_.push_back(construct::Appearance{&roles_.back(), thing});
      set.members.push_back(&appearances_.back());
    }
    auto r = encode_posit_payload(id, set, literal::Literal{text, kind}, time);
    return std::move(*r);
  }

 private:
  std::deque<construct::Role> roles_;
  std::deque<construct::Appearance> appearances_;
};

}  // namespace brackwater::storage::testing
