#include "construct/records.h"

#include <gtest/gtest.h>

#include <string>

#include "construct/keyed_hash.h"
#include "construct/record_keys.h"
#include "construct/seahash.h"

namespace brackwater::construct {
namespace {

using literal::LiteralKind;

TEST(SeaHash, PublishedVectorAndStreaming) {
  EXPECT_EQ(seahash("to be or not to be"), 1988685042348123509ULL);
  // Any split of the input gives the one-shot value.
  const std::string text = "to be or not to be, that is the question: whether 'tis nobler";
  for (size_t cut = 0; cut <= text.size(); cut += 3) {
    SeaHasher h;
    h.write(std::string_view(text).substr(0, cut));
    h.write(std::string_view(text).substr(cut));
    EXPECT_EQ(h.finish(), seahash(text)) << cut;
  }
  // A word equals its 8 little-endian bytes, aligned or not.
  SeaHasher a;
  a.write("x");
  a.write_u64(0x0102030405060708ULL);
  EXPECT_EQ(a.finish(), seahash(std::string("x\x08\x07\x06\x05\x04\x03\x02\x01", 9)));
  SeaHasher b;
  b.write_u64(42);
  EXPECT_EQ(b.finish(), seahash_u64(42));
  EXPECT_EQ(seahash_u64(42), seahash(std::string("\x2a\0\0\0\0\0\0\0", 8)));
}

TEST(SipHash, ReferenceVectorOfTwoFour) {
  // The reference key 00..0f; SipHash-2-4 of the empty input and of the bytes 00..0e.
  const uint64_t k0 = 0x0706050403020100ULL, k1 = 0x0f0e0d0c0b0a0908ULL;
  SipHasher<2, 4> empty(k0, k1);
  EXPECT_EQ(empty.finish(), 0x726fdb47dd0e0e31ULL);
  std::string fifteen;
  for (char c = 0; c < 15; ++c) fifteen.push_back(c);
  SipHasher<2, 4> h(k0, k1);
  h.write(fifteen.substr(0, 5));
  h.write(fifteen.substr(5));
  EXPECT_EQ(h.finish(), 0xa129ca6149be45e5ULL);
}

struct Model {
  Role r3{"thing", 3, true}, r7{"r", 7, false}, r7b{"r", 7, false};
  Appearance a{&r7, 9}, b{&r3, 40}, a_copy{&r7b, 9};
};

TEST(Records, AppearanceEqualityAndSetKeys) {
  Model m;
  EXPECT_TRUE(appearance_eq(m.a, m.a_copy));  // same Role identity, other record
  EXPECT_FALSE(appearance_eq(m.a, m.b));
  AppearanceSet s{{&m.b, &m.a}};  // stored order: (3, 40), (7, 9)
  AppearanceSet t{{&m.b, &m.a_copy}};
  EXPECT_TRUE(appearance_list_eq(s, t));
  EXPECT_EQ(appearance_set_hash(s), appearance_set_hash(t));
  // Count, then Thing before Role per member.
  SeaHasher h;
  for (uint64_t w : {2ULL, 40ULL, 3ULL, 9ULL, 7ULL}) h.write_u64(w);
  EXPECT_EQ(appearance_set_hash(s), h.finish());
  EXPECT_EQ(format_appearance_set(s), "{(40, thing),(9, r)}");
  EXPECT_EQ(format_appearance_set(AppearanceSet{}), "{}");
  AppearanceSet shorter{{&m.b}};
  EXPECT_FALSE(appearance_list_eq(s, shorter));
  SeaHasher name;
  name.write("thing");
  name.write_u8(0xFF);
  EXPECT_EQ(role_name_hash("thing"), name.finish());
}

TEST(Records, PropositionIgnoresFamilyAndIdentity) {
  Model m;
  AppearanceSet s{{&m.a}};
  AppearanceSet s2{{&m.a_copy}};
  const TimeValue y2001 = TimeValue::of_year(2001);
  Posit integer{10, &s, {"1", LiteralKind::Integer}, y2001};
  Posit json{11, &s2, {"1", LiteralKind::Json}, y2001};
  EXPECT_TRUE(posit_key_eq(integer, json));
  EXPECT_EQ(posit_key_hash(integer), posit_key_hash(json));

  Posit decimal_a{12, &s, {"1.0", LiteralKind::Decimal}, y2001};
  Posit decimal_b{13, &s, {"1.00", LiteralKind::Decimal}, y2001};
  EXPECT_FALSE(posit_key_eq(decimal_a, decimal_b));
  Posit as_date{14, &s, {"1", LiteralKind::Integer}, TimeValue::of_date(2001, 1, 1)};
  EXPECT_FALSE(posit_key_eq(integer, as_date));
  Posit other_month{15, &s, {"1", LiteralKind::Integer}, TimeValue::of_year_month(2001, 2)};
  Posit month{16, &s, {"1", LiteralKind::Integer}, TimeValue::of_year_month(2001, 3)};
  EXPECT_FALSE(posit_key_eq(other_month, month));
  Posit bot_a{17, &s, {"1", LiteralKind::Integer}, TimeValue::bot()};
  Posit bot_b{18, &s2, {"1", LiteralKind::String}, TimeValue::bot()};
  EXPECT_TRUE(posit_key_eq(bot_a, bot_b));
  EXPECT_EQ(posit_key_hash(bot_a), posit_key_hash(bot_b));
}

TEST(Records, PositRecordOrder) {
  Model m;
  AppearanceSet s{{&m.b, &m.a}};
  AppearanceSet prefix{{&m.b}};
  const Posit target{20, &s, {"x", LiteralKind::String}, TimeValue::of_year(2000)};
  const Posit first_eot{30, &s, {"50%", LiteralKind::Certainty}, TimeValue::eot()};
  const Posit first_1990{31, &s, {"50%", LiteralKind::Certainty}, TimeValue::of_year(1990)};
  // Equal keys and second Posits: EOT sorts before every year.
  EXPECT_TRUE(posit_record_less(first_eot, target, 5, first_1990, target, 5));
  EXPECT_FALSE(posit_record_less(first_1990, target, 5, first_eot, target, 5));
  // The key comes first.
  EXPECT_TRUE(posit_record_less(first_1990, target, 4, first_eot, target, 5));
  // A member list that is a prefix of another sorts first.
  const Posit short_target{21, &prefix, {"x", LiteralKind::String}, TimeValue::of_year(2000)};
  EXPECT_TRUE(posit_record_less(first_eot, short_target, 5, first_eot, target, 5));
  // Text bytes: a proper prefix first.
  const Posit text_x{22, &s, {"x", LiteralKind::String}, TimeValue::of_year(2000)};
  const Posit text_xy{19, &s, {"xy", LiteralKind::String}, TimeValue::of_year(2000)};
  EXPECT_TRUE(posit_record_less(first_eot, text_x, 5, first_eot, text_xy, 5));
  // Last resorts: second identity, then first identity; irreflexive.
  EXPECT_FALSE(posit_record_less(first_eot, text_xy, 5, first_eot, target, 5));  // text decides before identity
  const Posit twin{23, &s, {"x", LiteralKind::String}, TimeValue::of_year(2000)};
  EXPECT_TRUE(posit_record_less(first_eot, target, 5, first_eot, twin, 5));
  const Posit later_first{32, &s, {"50%", LiteralKind::Certainty}, TimeValue::eot()};
  EXPECT_TRUE(posit_record_less(first_eot, target, 5, later_first, target, 5));
  EXPECT_FALSE(posit_record_less(first_eot, target, 5, first_eot, target, 5));
}

}  // namespace
}  // namespace brackwater::construct
