#include <gtest/gtest.h>

#include "literal/unicode.h"

namespace brackwater::literal {
namespace {

TEST(Alphabetic, CategoriesAndOtherAlphabetic) {
  struct Case {
    char32_t cp;
    bool alphabetic;
  };
  const Case cases[] = {
      {U'a', true},     {U'Z', true},     {U'0', false},    {U'_', false},   {U'$', false},
      {U'\u00E9', true},                    // é, Ll
      {U'\u00AA', true},                    // ª, Lo
      {U'\u02B0', true},                    // modifier letter small h, Lm
      {U'\u2160', true},                    // Roman numeral one, Nl
      {U'\u00B2', false},                   // superscript two, No
      {U'\u0345', true},                    // combining ypogegrammeni: first Other_Alphabetic
      {U'\u0301', false},                   // combining acute: Mn, not Other_Alphabetic
      {U'\u093E', true},                    // Devanagari vowel sign aa, Mc and Other_Alphabetic
      {U'\U0001F130', true},                // squared Latin A, So and Other_Alphabetic
      {U'\U0001F189', true},                // last of that range
      {U'\U0001F18A', false},
      {U'\U00011F00', true},                // Kawi sign, new in Unicode 15
      {U'\U0010FFFF', false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_alphabetic(c.cp), c.alphabetic) << std::hex << uint32_t(c.cp);
}

}  // namespace
}  // namespace brackwater::literal
