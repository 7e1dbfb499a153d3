#include "storage/record_codec.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "literal/unicode.h"
#include "storage/text.h"
#include "storage/time_codec.h"

namespace brackwater::storage {

namespace {

using literal::LiteralKind;

EngineError corrupt(std::string message) { return EngineError::data_corruption(std::move(message)); }

constexpr uint8_t kIntegerFamily = static_cast<uint8_t>(LiteralKind::Integer);
constexpr uint8_t kCertaintyFamily = static_cast<uint8_t>(LiteralKind::Certainty);

PendingRecord pending(RecordType type, std::vector<uint8_t> payload) {
  PendingRecord r;
  r.payload = std::move(payload);
  r.type = static_cast<uint8_t>(type);
  return r;
}

// The value of `text` when it is exactly the canonical decimal rendering of an integer of type T.
template <class T>
std::optional<T> canonical_integer(std::string_view text) {
  T value{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  char buf[24];
  auto [out_end, out_ec] = std::to_chars(buf, buf + sizeof(buf), value);
  (void)out_ec;
  if (std::string_view(buf, out_end - buf) != text) return std::nullopt;
  return value;
}

std::optional<int8_t> canonical_certainty(std::string_view text) {
  if (text.size() < 2 || text.back() != '%') return std::nullopt;
  auto v = canonical_integer<int8_t>(text.substr(0, text.size() - 1));
  if (!v || *v < -100 || *v > 100) return std::nullopt;
  return v;
}

}  // namespace

EngineError undeclared_codec_error() { return corrupt("unknown or not-yet-declared Posit codec"); }

PendingRecord encode_role_payload(const construct::Role& role) {
  ByteWriter w;
  w.put_u64(role.identity);
  w.put_u8(role.reserved ? 1 : 0);
  w.put_byte_string(as_bytes(role.name));
  return pending(RecordType::Role, w.take());
}

PendingRecord encode_codec_payload(uint16_t codec_id) {
  // Identifiers outside the registry produce a record that replay refuses.
  const CodecRow row = codec_id < 3 ? kCodecRegistry[codec_id] : CodecRow{codec_id, 0, ""};
  ByteWriter w;
  w.put_u16(row.id);
  w.put_u16(1);
  w.put_u8(row.family);
  w.put_u16(0);
  w.put_u8(static_cast<uint8_t>(row.name.size()));
  w.put_raw(as_bytes(row.name));
  return pending(RecordType::Codec, w.take());
}

Result<void> encode_posit_payload(Identity identity, const construct::AppearanceSet& set,
                                  const literal::Literal& value, const literal::TimeValue& time, ByteWriter& w) {
  // Sets mostly have a few members: their pairs are sorted on the stack.
  using Pair = std::pair<Identity, Identity>;
  constexpr size_t kInline = 8;
  Pair inline_pairs[kInline];
  std::vector<Pair> heap_pairs;
  const size_t n = set.members.size();
  Pair* pairs = inline_pairs;
  if (n > kInline) {
    heap_pairs.resize(n);
    pairs = heap_pairs.data();
  }
  for (size_t i = 0; i < n; ++i) pairs[i] = Pair(set.members[i]->role->identity, set.members[i]->thing);
  std::sort(pairs, pairs + n);
  for (size_t i = 1; i < n; ++i) {
    if (pairs[i].first == pairs[i - 1].first) {
      return fail(EngineError::invalid_appearance_set("a persisted appearance set cannot repeat a role"));
    }
  }

  const uint8_t family = static_cast<uint8_t>(value.kind);
  uint16_t codec = 0;
  uint8_t value_bytes[10];
  size_t value_len = 0;
  if (family == kIntegerFamily) {
    if (auto v = canonical_integer<int64_t>(value.text)) {
      codec = 1;
      value_len = encode_uleb128(zigzag_encode(*v), value_bytes);
    }
  } else if (family == kCertaintyFamily) {
    if (auto v = canonical_certainty(value.text)) {
      codec = 2;
      value_bytes[0] = static_cast<uint8_t>(*v);
      value_len = 1;
    }
  }

  w.put_u64(identity);
  w.put_uleb128(n);
  for (size_t i = 0; i < n; ++i) {
    w.put_u64(pairs[i].first);
    w.put_u64(pairs[i].second);
  }
  w.put_u8(family);
  w.put_u16(codec);
  w.put_u16(1);
  w.put_byte_string(codec == 0 ? as_bytes(value.text) : Bytes(value_bytes, value_len));
  write_persisted_time(time, w);
  return {};
}

Result<PendingRecord> encode_posit_payload(Identity identity, const construct::AppearanceSet& set,
                                           const literal::Literal& value, const literal::TimeValue& time) {
  std::vector<uint8_t> buffer;
  buffer.reserve(64 + 16 * set.members.size() + value.text.size());
  ByteWriter w(std::move(buffer));
  if (auto r = encode_posit_payload(identity, set, value, time, w); !r) return fail(std::move(r.error()));
  return pending(RecordType::Posit, w.take());
}

std::vector<uint8_t> encode_commit_payload(const CommitPayload& commit) {
  ByteWriter w;
  w.put_u64(commit.batch);
  w.put_u64(commit.first_sequence);
  w.put_u64(commit.last_sequence);
  w.put_uleb128(commit.count);
  return w.take();
}

Result<ReplayedRole> decode_role(Bytes payload) {
  Cursor c(payload);
  auto id = read_u64(c, "Role identity");
  if (!id) return fail(std::move(id.error()));
  if (*id == 0) return fail(corrupt("Role identity 0 is reserved for genesis"));
  auto reserved = read_u8(c, "Role reserved flag");
  if (!reserved) return fail(std::move(reserved.error()));
  if (*reserved > 1) return fail(corrupt(str_cat("invalid Role reserved flag ", *reserved)));
  auto name = read_utf8_text(c);
  if (!name) return fail(std::move(name.error()));
  if (!c.at_end() || literal::to_nfc(*name) != *name) return fail(corrupt("invalid canonical Role payload"));
  return ReplayedRole{std::move(*name), *id, *reserved == 1};
}

Result<uint16_t> decode_codec(Bytes payload) {
  Cursor c(payload);
  auto id = read_u16(c, "codec identifier");
  if (!id) return fail(std::move(id.error()));
  auto version = read_u16(c, "codec version");
  if (!version) return fail(std::move(version.error()));
  auto family = read_u8(c, "codec family");
  if (!family) return fail(std::move(family.error()));
  auto flags = read_u16(c, "codec flags");
  if (!flags) return fail(std::move(flags.error()));
  auto name = read_utf8_text(c);
  if (!name) return fail(std::move(name.error()));
  if (*id > 2 || *version != 1) return fail(corrupt("unknown required codec"));
  const CodecRow& row = kCodecRegistry[*id];
  if (*family != row.family || *flags != 0 || *name != row.name || !c.at_end()) {
    return fail(corrupt("unknown or malformed required codec"));
  }
  return *id;
}

Result<DecodedCommit> decode_commit(Bytes payload) {
  Cursor c(payload);
  DecodedCommit out;
  auto batch = read_u64(c, "commit batch");
  if (!batch) return fail(std::move(batch.error()));
  auto first = read_u64(c, "commit first sequence");
  if (!first) return fail(std::move(first.error()));
  auto last = read_u64(c, "commit last sequence");
  if (!last) return fail(std::move(last.error()));
  auto count = read_uleb128(c);
  if (!count) return fail(std::move(count.error()));
  out.commit = CommitPayload{*batch, *first, *last, *count};
  out.trailing = !c.at_end();
  return out;
}

namespace {

// Room for the longest canonical text: "-9223372036854775808" or "-100%".
using CanonicalBuffer = std::array<char, 24>;

// The token text of a persisted value: a view of `value` (codec 0) or of `buffer` (codecs 1, 2).
Result<std::string_view> literal_payload_text(uint8_t family, uint16_t codec, Bytes value, CanonicalBuffer& buffer) {
  switch (codec) {
    case 0:
      if (auto fault = check_utf8(value)) return fail(corrupt(str_cat("literal payload is not UTF-8: ", fault->describe())));
      return as_text(value);
    case 1: {
      if (family != kIntegerFamily) return fail(corrupt("Posit codec is incompatible with its literal family"));
      Cursor c(value);
      auto u = read_uleb128(c);
      if (!u) return fail(std::move(u.error()));
      if (!c.at_end()) return fail(corrupt("canonical integer payload has trailing bytes"));
      auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), zigzag_decode(*u));
      (void)ec;
      return std::string_view(buffer.data(), end);
    }
    case 2: {
      if (family != kCertaintyFamily) return fail(corrupt("Posit codec is incompatible with its literal family"));
      if (value.size() != 1) return fail(corrupt("canonical certainty payload must contain one byte"));
      const int v = static_cast<int8_t>(value[0]);
      if (v < -100 || v > 100) return fail(corrupt("canonical certainty payload is outside -100..=100"));
      auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size() - 1, v);
      (void)ec;
      *end = '%';
      return std::string_view(buffer.data(), end + 1);
    }
    default:
      return fail(undeclared_codec_error());
  }
}

Result<ReplayedPosit> decode_posit_into(Bytes payload, CodecSet declared, std::vector<ReplayedMember>& members,
                                        std::optional<uint16_t>& accepted_codec) {
  Cursor c(payload);
  ReplayedPosit out;
  auto id = read_u64(c, "Posit identity");
  if (!id) return fail(std::move(id.error()));
  if (*id == 0) return fail(corrupt("Posit identity 0 is reserved for genesis"));
  out.identity = *id;

  auto count = read_uleb128(c);
  if (!count) return fail(std::move(count.error()));
  if (*count > c.remaining() / 16) return fail(corrupt("appearance count exceeds the remaining Posit payload"));
  out.first_member = members.size();
  out.member_count = *count;
  Identity previous_role = 0;
  for (uint64_t i = 0; i < *count; ++i) {
    auto role = read_u64(c, "appearance Role");
    if (!role) return fail(std::move(role.error()));
    auto thing = read_u64(c, "appearing Thing");
    if (!thing) return fail(std::move(thing.error()));
    if (*role == 0 || *thing == 0) return fail(corrupt("appearance identities cannot use genesis identity 0"));
    members.emplace_back(*role, *thing);
  }
  // Checked after every pair was read, so a truncated pair is reported first.
  for (uint64_t i = 0; i < *count; ++i) {
    const Identity role = members[out.first_member + i].first;
    if (i > 0 && role <= previous_role) return fail(corrupt("Posit appearances are not canonical"));
    previous_role = role;
  }

  auto family = read_u8(c, "literal family");
  if (!family) return fail(std::move(family.error()));
  if (*family < 1 || *family > 6) return fail(corrupt("unknown literal family"));
  auto codec = read_u16(c, "codec identifier");
  if (!codec) return fail(std::move(codec.error()));
  auto version = read_u16(c, "codec version");
  if (!version) return fail(std::move(version.error()));
  if (*codec > 2 || *version != 1 || !(declared & (1u << *codec))) return fail(undeclared_codec_error());
  accepted_codec = *codec;
  auto bytes = read_byte_string(c);
  if (!bytes) return fail(std::move(bytes.error()));
  CanonicalBuffer buffer;
  auto text = literal_payload_text(*family, *codec, *bytes, buffer);
  if (!text) return fail(std::move(text.error()));
  auto literal = literal::Literal::from_token(std::string(*text), static_cast<LiteralKind>(*family));
  if (!literal) return fail(corrupt(str_cat("invalid persisted literal: ", literal.error())));
  out.value = std::move(*literal);

  auto time = read_persisted_time(c);
  if (!time) return fail(std::move(time.error()));
  out.time = *time;
  if (!c.at_end()) return fail(corrupt("Posit payload has trailing fields"));
  return out;
}

// On failure the pool is cut back to its length on entry.
Result<ReplayedPosit> decode_posit_ahead_of(Bytes payload, CodecSet declared, std::vector<ReplayedMember>& members,
                                            std::optional<uint16_t>& codec) {
  const size_t pool_size = members.size();
  auto decoded = decode_posit_into(payload, declared, members, codec);
  if (!decoded) members.resize(pool_size);
  return decoded;
}

}  // namespace

Result<ReplayedPosit> decode_posit(Bytes payload, CodecSet declared, std::vector<ReplayedMember>& members) {
  std::optional<uint16_t> codec;
  return decode_posit_ahead_of(payload, declared, members, codec);
}

Result<ReplayedPosit> decode_posit_ahead(Bytes payload, std::vector<ReplayedMember>& members,
                                         std::optional<uint16_t>& codec) {
  codec.reset();
  return decode_posit_ahead_of(payload, kAllCodecs, members, codec);
}

}  // namespace brackwater::storage
