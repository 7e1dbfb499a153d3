#include "storage/record_codec.h"

#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "storage/store_test_util.h"
#include "storage/time_codec.h"

namespace brackwater::storage {
namespace {

using B = std::vector<uint8_t>;
using literal::LiteralKind;
using literal::TimeValue;
using testing::put_le;

void put_text(B& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

// The hand-built Posit payload of one appearance (6, 7), with the given tail after the pairs.
B posit_bytes(uint64_t id, std::vector<std::pair<uint64_t, uint64_t>> pairs, uint8_t family, uint16_t codec,
              B value, B time = {0x00}) {
  B b;
  put_le(b, id, 8);
  b.push_back(static_cast<uint8_t>(pairs.size()));
  for (auto [r, t] : pairs) put_le(b, r, 8), put_le(b, t, 8);
  b.push_back(family);
  put_le(b, codec, 2);
  put_le(b, 1, 2);
  b.push_back(static_cast<uint8_t>(value.size()));
  b.insert(b.end(), value.begin(), value.end());
  b.insert(b.end(), time.begin(), time.end());
  return b;
}

B encoded_posit(const std::string& text, LiteralKind kind, TimeValue time = TimeValue::bot()) {
  construct::Role role{"r", 6, false};
  construct::Appearance a{&role, 7};
  construct::AppearanceSet set{{&a}};
  auto r = encode_posit_payload(8, set, literal::Literal{text, kind}, time);
  EXPECT_TRUE(r);
  EXPECT_EQ(r->type, 3);
  return r->payload;
}

TEST(RecordPayloads, RoleAndCodecLayouts) {
  B role;
  put_le(role, 6, 8);
  role.insert(role.end(), {0x01, 0x04, 'n', 'a', 'm', 'e'});
  auto rec = encode_role_payload(construct::Role{"name", 6, true});
  EXPECT_EQ(rec.payload, role);
  EXPECT_EQ((std::array<int, 3>{rec.type, rec.version, rec.flags}), (std::array<int, 3>{1, 1, 0}));

  const std::tuple<uint16_t, B, std::string_view> codecs[] = {
      {0, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x0E}, "raw-utf8-token"},
      {1, {0x01, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x0D}, "canonical-i64"},
      {2, {0x02, 0x00, 0x01, 0x00, 0x04, 0x00, 0x00, 0x13}, "canonical-certainty"},
  };
  for (auto [id, expected, name] : codecs) {
    put_text(expected, name);
    EXPECT_EQ(encode_codec_payload(id).payload, expected) << id;
    EXPECT_EQ(encode_codec_payload(id).type, 2);
    EXPECT_EQ(*decode_codec(expected), id);
  }
}

TEST(RecordPayloads, PositLayoutAndCodecChoice) {
  struct Case {
    std::string text;
    LiteralKind kind;
    uint16_t codec;
    B value;
  };
  const B min_i64 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01};
  const Case cases[] = {
      {"42", LiteralKind::Integer, 1, {0x54}},
      {"-1", LiteralKind::Integer, 1, {0x01}},
      {"0", LiteralKind::Integer, 1, {0x00}},
      {"-9223372036854775808", LiteralKind::Integer, 1, min_i64},
      {"+42", LiteralKind::Integer, 0, {'+', '4', '2'}},
      {"-0", LiteralKind::Integer, 0, {'-', '0'}},
      {"007", LiteralKind::Integer, 0, {'0', '0', '7'}},
      {"9223372036854775808", LiteralKind::Integer, 0, {}},
      {"100%", LiteralKind::Certainty, 2, {0x64}},
      {"-100%", LiteralKind::Certainty, 2, {0x9C}},
      {"+5%", LiteralKind::Certainty, 0, {'+', '5', '%'}},
      {"05%", LiteralKind::Certainty, 0, {'0', '5', '%'}},
      {"101%", LiteralKind::Certainty, 0, {'1', '0', '1', '%'}},
      {"42", LiteralKind::Decimal, 0, {'4', '2'}},
      {"\"x\"", LiteralKind::String, 0, {'"', 'x', '"'}},
  };
  for (const Case& c : cases) {
    B value = c.value.empty() ? B(c.text.begin(), c.text.end()) : c.value;
    EXPECT_EQ(encoded_posit(c.text, c.kind), posit_bytes(8, {{6, 7}}, static_cast<uint8_t>(c.kind), c.codec, value))
        << c.text;
  }
}

TEST(RecordPayloads, PositMembersAreSortedAndRolesUnique) {
  construct::Role r3{"a", 3, false}, r6{"b", 6, false};
  construct::Appearance a{&r6, 1}, b{&r3, 9};
  construct::AppearanceSet set{{&a, &b}};
  auto rec = encode_posit_payload(8, set, literal::Literal{"1", LiteralKind::Integer}, TimeValue::bot());
  EXPECT_EQ(rec->payload, posit_bytes(8, {{3, 9}, {6, 1}}, 2, 1, {0x02}));
  construct::Appearance c{&r6, 2};
  construct::AppearanceSet twice{{&a, &c}};
  auto bad = encode_posit_payload(8, twice, literal::Literal{"1", LiteralKind::Integer}, TimeValue::bot());
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().display(), "Invalid appearance set: a persisted appearance set cannot repeat a role");
}

TEST(TimeCodec, TagLayoutsAndRoundTrip) {
  const std::pair<TimeValue, B> cases[] = {
      {TimeValue::bot(), {0x00}},
      {TimeValue::eot(), {0x01}},
      {TimeValue::of_year(2020), {0x02, 0xE4, 0x07, 0x00, 0x00}},
      {TimeValue::of_year(-5), {0x02, 0xFB, 0xFF, 0xFF, 0xFF}},
      {TimeValue::of_year_month(2020, 5), {0x03, 0xE4, 0x07, 0x00, 0x00, 0x05}},
      {TimeValue::of_date(2020, 5, 17), {0x04, 0xE4, 0x07, 0x00, 0x00, 0x05, 0x11}},
      // 23:59:60.5, a leap second: second 59, nanoseconds 1,500,000,000.
      {TimeValue::of_date_time(2020, 5, 17, 86399, 1'500'000'000),
       {0x05, 0xE4, 0x07, 0x00, 0x00, 0x05, 0x11, 0x17, 0x3B, 0x3B, 0x00, 0x2F, 0x68, 0x59}},
      {TimeValue::of_date_time(1, 1, 1, 3661, 7), {0x05, 0x01, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01, 0x01, 0x07, 0x00, 0x00, 0x00}},
  };
  for (const auto& [time, bytes] : cases) {
    ByteWriter w;
    write_persisted_time(time, w);
    EXPECT_EQ(w.bytes(), bytes) << time.display();
    Cursor c{Bytes(bytes)};
    auto back = read_persisted_time(c);
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_TRUE(back->identical(time)) << time.display();
    EXPECT_TRUE(c.at_end());
  }
}

TEST(TimeCodec, RefusesWhatNoParserProduces) {
  const std::pair<B, std::string> cases[] = {
      {{0x06}, "unknown time tag 6"},
      {{}, "truncated time tag"},
      {{0x02, 0x01}, "truncated time year"},
      {{0x03, 0xE4, 0x07, 0x00, 0x00, 0x0D}, "invalid time month"},
      {{0x03, 0xE4, 0x07, 0x00, 0x00, 0x00}, "invalid time month"},
      {{0x04, 0xE5, 0x07, 0x00, 0x00, 0x02, 0x1D}, "invalid persisted calendar date"},  // 2021-02-29
      {{0x04, 0xE4, 0x07, 0x00, 0x00, 0x0D, 0x01}, "invalid persisted calendar date"},
      {{0x04, 0x00, 0x00, 0x10, 0x00, 0x01, 0x01}, "invalid persisted calendar date"},  // year 1048576
      {{0x04, 0xE4, 0x07, 0x00, 0x00, 0x02}, "truncated time day"},
      {{0x05, 0xE4, 0x07, 0x00, 0x00, 0x05, 0x11, 0x17, 0x3B, 0x3A, 0x00, 0x2F, 0x68, 0x59},
       "invalid persisted UTC datetime"},  // second 58 with 1.5e9 ns
      {{0x05, 0xE4, 0x07, 0x00, 0x00, 0x05, 0x11, 0x18, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
       "invalid persisted UTC datetime"},  // hour 24
      {{0x05, 0xE4, 0x07, 0x00, 0x00, 0x05, 0x11, 0x00, 0x00, 0x3B, 0x00, 0x94, 0x35, 0x77},
       "invalid persisted UTC datetime"},  // 2,000,000,000 ns
      {{0x05, 0xE4, 0x07, 0x00, 0x00, 0x05, 0x11, 0x17, 0x3B, 0x3B, 0x00}, "truncated time nanosecond"},
  };
  for (const auto& [bytes, message] : cases) {
    Cursor c{Bytes(bytes)};
    auto r = read_persisted_time(c);
    ASSERT_FALSE(r) << message;
    EXPECT_EQ(r.error().message(), message);
  }
}

std::string decode_message(auto result) { return result ? std::string("ok") : result.error().message(); }

TEST(RecordDecoding, RoleAndCodecFailures) {
  auto role = [](uint64_t id, uint8_t reserved, std::string_view name, B extra = {}) {
    B b;
    put_le(b, id, 8);
    b.push_back(reserved);
    b.push_back(static_cast<uint8_t>(name.size()));
    put_text(b, name);
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
  };
  EXPECT_EQ(decode_message(decode_role(role(6, 0, "name"))), "ok");
  EXPECT_EQ(decode_role(role(6, 1, "name"))->reserved, true);
  EXPECT_EQ(decode_message(decode_role(role(0, 0, "name"))), "Role identity 0 is reserved for genesis");
  EXPECT_EQ(decode_message(decode_role(role(6, 2, "name"))), "invalid Role reserved flag 2");
  EXPECT_EQ(decode_message(decode_role(role(6, 0, "e\xCC\x81"))), "invalid canonical Role payload");
  EXPECT_EQ(decode_message(decode_role(role(6, 0, "\xC3\xA9"))), "ok");
  EXPECT_EQ(decode_message(decode_role(role(6, 0, "name", {0x00}))), "invalid canonical Role payload");
  EXPECT_EQ(decode_message(decode_role(B{1, 2, 3})), "truncated Role identity");
  EXPECT_EQ(decode_message(decode_role(role(6, 0, "\xFF"))),
            "invalid UTF-8 text: invalid utf-8 sequence of 1 bytes from index 0");

  // Codec 1 with byte `at` set to `v` (at the end: one byte more).
  const std::tuple<size_t, uint8_t, std::string> codecs[] = {
      {0, 3, "unknown required codec"}, {2, 2, "unknown required codec"}, {4, 4, "unknown or malformed required codec"},
      {5, 1, "unknown or malformed required codec"}, {8, 'C', "unknown or malformed required codec"},
      {21, 0, "unknown or malformed required codec"}};
  for (const auto& [at, v, message] : codecs) {
    B codec = encode_codec_payload(1).payload;
    codec.resize(std::max(codec.size(), at + 1));
    codec[at] = v;
    EXPECT_EQ(decode_message(decode_codec(codec)), message) << at;
  }
  EXPECT_EQ(decode_message(decode_codec(B{1, 0, 1})), "truncated codec version");
}

TEST(RecordDecoding, PositFailuresInOrder) {
  const B bot = {0x00};
  struct Case {
    B payload;
    std::string message;
    CodecSet declared = kAllCodecs;
  };
  B zero_id = posit_bytes(0, {{6, 7}}, 1, 0, {'1'});
  B too_many = posit_bytes(8, {{6, 7}}, 1, 0, {'1'});
  too_many[8] = 3;
  B trailing = posit_bytes(8, {{6, 7}}, 2, 0, {'1'});
  trailing.push_back(0);
  const Case cases[] = {
      {zero_id, "Posit identity 0 is reserved for genesis"},
      {too_many, "appearance count exceeds the remaining Posit payload"},
      {posit_bytes(8, {{6, 0}}, 2, 1, {0x02}), "appearance identities cannot use genesis identity 0"},
      {posit_bytes(8, {{6, 7}, {3, 1}}, 2, 1, {0x02}), "Posit appearances are not canonical"},
      {posit_bytes(8, {{6, 7}, {6, 8}}, 2, 1, {0x02}), "Posit appearances are not canonical"},
      {posit_bytes(8, {{6, 7}}, 7, 0, {'1'}), "unknown literal family"},
      {posit_bytes(8, {{6, 7}}, 2, 3, {'1'}), "unknown or not-yet-declared Posit codec"},
      {posit_bytes(8, {{6, 7}}, 2, 1, {0x02}), "unknown or not-yet-declared Posit codec", 0b001},
      {posit_bytes(8, {{6, 7}}, 3, 1, {0x02}), "Posit codec is incompatible with its literal family"},
      {posit_bytes(8, {{6, 7}}, 2, 2, {0x02}), "Posit codec is incompatible with its literal family"},
      {posit_bytes(8, {{6, 7}}, 4, 2, {0x65}), "canonical certainty payload is outside -100..=100"},
      {posit_bytes(8, {{6, 7}}, 4, 2, {0x01, 0x02}), "canonical certainty payload must contain one byte"},
      {posit_bytes(8, {{6, 7}}, 2, 1, {0x02, 0x00}), "canonical integer payload has trailing bytes"},
      {posit_bytes(8, {{6, 7}}, 2, 1, {0x80, 0x00}), "non-canonical ULEB128"},
      {posit_bytes(8, {{6, 7}}, 1, 0, {0xC3, 0x28}), "literal payload is not UTF-8: invalid utf-8 sequence of 1 bytes from index 0"},
      {posit_bytes(8, {{6, 7}}, 2, 0, {'x'}), "invalid persisted literal: "},
      {posit_bytes(8, {{6, 7}}, 2, 0, {'1'}, {0x09}), "unknown time tag 9"},
      {trailing, "Posit payload has trailing fields"},
  };
  for (const Case& c : cases) {
    // A failed decode leaves the member pool as it found it.
    std::vector<ReplayedMember> pool{{1, 2}};
    auto r = decode_posit(c.payload, c.declared, pool);
    ASSERT_FALSE(r) << c.message;
    EXPECT_EQ(pool, (std::vector<ReplayedMember>{{1, 2}})) << c.message;
    EXPECT_EQ(r.error().kind(), construct::ErrorKind::DataCorruption);
    if (c.message.ends_with(": ")) {
      EXPECT_TRUE(r.error().message().starts_with(c.message)) << r.error().message();
    } else {
      EXPECT_EQ(r.error().message(), c.message);
    }
  }
}

TEST(RecordDecoding, PositRoundTripKeepsTextAndTime) {
  struct Case {
    std::string text;
    LiteralKind kind;
    TimeValue time;
  };
  const Case cases[] = {
      {"42", LiteralKind::Integer, TimeValue::of_year(1999)},
      {"-9223372036854775808", LiteralKind::Integer, TimeValue::eot()},
      {"+7", LiteralKind::Integer, TimeValue::of_date(2001, 2, 28)},
      {"-100%", LiteralKind::Certainty, TimeValue::of_date_time(2020, 1, 1, 36000, 120000000)},
      {"1.50", LiteralKind::Decimal, TimeValue::bot()},
      {"\"caf\\u00e9\"", LiteralKind::String, TimeValue::of_year_month(-44, 3)},
      {"{\"a\":[1,2,{\"b\":null}]}", LiteralKind::Json, TimeValue::bot()},
  };
  for (const Case& c : cases) {
    auto lit = literal::Literal::from_token(c.text, c.kind);
    ASSERT_TRUE(lit) << c.text << ": " << lit.error();
    B payload = encoded_posit(c.text, c.kind, c.time);
    std::vector<ReplayedMember> pool{{1, 2}};
    auto back = decode_posit(payload, kAllCodecs, pool);
    ASSERT_TRUE(back) << c.text << ": " << back.error().message();
    EXPECT_EQ(back->identity, 8u);
    EXPECT_EQ(back->first_member, 1u);
    EXPECT_EQ(back->member_count, 1u);
    EXPECT_EQ(pool, (std::vector<ReplayedMember>{{1, 2}, {6, 7}}));
    EXPECT_EQ(back->value.text, c.text);
    EXPECT_EQ(back->value.kind, c.kind);
    EXPECT_TRUE(back->time.identical(c.time));
  }
}

TEST(RecordDecoding, DeeplyNestedJsonIsRevalidatedWithoutDepthLimit) {
  const size_t depth = 1'000'000;
  std::string json = std::string(depth, '[') + std::string(depth, ']');
  std::vector<ReplayedMember> pool;
  auto back = decode_posit(encoded_posit(json, LiteralKind::Json), kAllCodecs, pool);
  ASSERT_TRUE(back) << back.error().message();
  EXPECT_EQ(back->value.text.size(), 2 * depth);
}

TEST(RecordDecoding, CommitFields) {
  B commit = encode_commit_payload(CommitPayload{1, 2, 9, 8});
  B expected;
  for (uint64_t field : {1, 2, 9}) put_le(expected, field, 8);
  expected.push_back(8);
  EXPECT_EQ(commit, expected);
  auto decoded = decode_commit(commit);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->commit.count, 8u);
  EXPECT_FALSE(decoded->trailing);
  commit.push_back(0);
  EXPECT_TRUE(decode_commit(commit)->trailing);
}

}  // namespace
}  // namespace brackwater::storage
