// Randomised checks: the parsers never misbehave on arbitrary bytes, and exact number comparison
// agrees with integer arithmetic.
#include <gtest/gtest.h>

#include <random>

#include "literal/compare.h"
#include "literal/decimal.h"
#include "literal/json.h"

namespace brackwater::literal {
namespace {

TEST(LiteralRandom, JsonParserOnArbitraryJsonishBytes) {
  std::mt19937_64 rng(12345);
  const std::string_view alphabet = "[]{}\",:\\ -+.0123eEtrufalsn\x01\n\xC3\xA9u";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1), length(0, 24);
  int accepted = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    for (size_t n = length(rng); n > 0; --n) text.push_back(alphabet[pick(rng)]);
    auto tree = parse_json_literal(text);
    if (tree) {
      ++accepted;
      ASSERT_TRUE(json_equal(*tree, *tree)) << text;
      ASSERT_TRUE(json_equal(*tree, *parse_json_literal(" " + text + "\n"))) << text;
    } else {
      ASSERT_FALSE(tree.error().empty());
    }
  }
  EXPECT_GT(accepted, 0);
}

TEST(LiteralRandom, NumberOrderMatchesIntegerArithmetic) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> mantissa(-99999, 99999);
  std::uniform_int_distribution<int> scale(0, 6), zeros(0, 2), style(0, 2);
  auto render = [&](int64_t m, int s) {
    // m x 10^-s written as a decimal, as an exponent form, or with padding zeros.
    std::string digits = std::to_string(m < 0 ? -m : m);
    std::string sign = m < 0 ? "-" : (style(rng) == 0 ? "+" : "");
    switch (style(rng)) {
      case 0: return sign + digits + "e-" + std::to_string(s);
      case 1: {
        while (static_cast<int>(digits.size()) <= s) digits.insert(0, "0");
        std::string text = sign + std::string(zeros(rng), '0') + digits.substr(0, digits.size() - s);
        if (s > 0) text += "." + digits.substr(digits.size() - s);
        return text + (s > 0 ? std::string(zeros(rng), '0') : "");
      }
      default: return sign + digits + "0e-" + std::to_string(s + 1);
    }
  };
  for (int i = 0; i < 100000; ++i) {
    int64_t ma = mantissa(rng), mb = mantissa(rng);
    int sa = scale(rng), sb = scale(rng);
    if (i % 3 == 0) {  // many equal values written differently
      mb = ma * 10;
      sb = sa + 1;
    }
    __int128 x = ma, y = mb;
    for (int k = sa; k < 8; ++k) x *= 10;
    for (int k = sb; k < 8; ++k) y *= 10;
    std::string ta = render(ma, sa), tb = render(mb, sb);
    auto va = view_decimal(ta), vb = view_decimal(tb);
    ASSERT_TRUE(va && vb) << ta << " " << tb;
    ASSERT_EQ(*va <=> *vb, x <=> y) << ta << " vs " << tb;
    if (ta.find('e') == std::string::npos && tb.find('e') == std::string::npos) {
      Literal a{ta, ta.find('.') == std::string::npos ? LiteralKind::Integer : LiteralKind::Decimal};
      Literal b{tb, tb.find('.') == std::string::npos ? LiteralKind::Integer : LiteralKind::Decimal};
      ASSERT_EQ(*compare_order(a, b), x <=> y) << ta << " vs " << tb;
    }
  }
}

}  // namespace
}  // namespace brackwater::literal
