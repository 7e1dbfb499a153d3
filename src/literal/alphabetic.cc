// The derived property Alphabetic: general categories Lu, Ll, Lt, Lm, Lo, Nl, plus Other_Alphabetic.
#include <utf8proc.h>

#include <algorithm>
#include <iterator>

#include "literal/other_alphabetic_ranges.h"
#include "literal/unicode.h"

namespace brackwater::literal {

namespace {

bool in_other_alphabetic(char32_t cp) {
  const auto* begin = std::begin(kOtherAlphabeticRanges);
  const auto* end = std::end(kOtherAlphabeticRanges);
  // The first range whose last code point is not below `cp`.
  const auto* it = std::lower_bound(begin, end, cp, [](const CodePointRange& r, char32_t c) { return r.last < c; });
  return it != end && it->first <= cp;
}

}  // namespace

bool is_alphabetic(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z');
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(cp))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_NL:
      return true;
    default:
      return in_other_alphabetic(cp);
  }
}

}  // namespace brackwater::literal
