#include "literal/unicode.h"

#include <utf8proc.h>

#include <cstdlib>

namespace brackwater::literal {

char32_t decode_utf8(std::string_view text, size_t& pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  size_t n = text.size();
  unsigned char b = s[pos];
  if (b < 0x80) {
    ++pos;
    return b;
  }
  int len = (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || pos + len > n) {
    ++pos;
    return b;
  }
  char32_t cp = b & (0x7F >> len);
  for (int i = 1; i < len; ++i) {
    unsigned char c = s[pos + i];
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return b;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += len;
  return cp;
}

Utf8Sequence utf8_sequence_at(std::string_view text, size_t pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char b = s[pos];
  if (b < 0x80) return {1, 0};
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    len = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    len = 3;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;  // no UTF-16 surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    len = 4;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
  } else {
    return {0, 1};
  }
  for (size_t k = 1; k < len; ++k) {
    if (pos + k >= text.size()) return {0, 0};
    const bool fits = k == 1 ? s[pos + k] >= lo && s[pos + k] <= hi : (s[pos + k] & 0xC0) == 0x80;
    if (!fits) return {0, k};
  }
  return {len, 0};
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool is_white_space(char32_t cp) {
  switch (cp) {
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20: case 0x85: case 0xA0:
    case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return cp >= 0x2000 && cp <= 0x200A;
  }
}

size_t white_space_length(std::string_view text, size_t pos) {
  size_t next = pos;
  char32_t cp = decode_utf8(text, next);
  // A stray byte decodes as itself; 0x85 or 0xA0 alone is not a White_Space character.
  if (cp >= 0x80 && next - pos < 2) return 0;
  return is_white_space(cp) ? next - pos : 0;
}

namespace {

// Length of the White_Space scalar that ends at `end` (exclusive), or 0.
size_t trailing_space_len(std::string_view text, size_t end) {
  size_t start = end;
  while (start > 0 && end - start < 4) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) break;
  }
  size_t len = white_space_length(text, start);
  return start + len == end ? len : 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t len = white_space_length(text, begin);
    if (len == 0) break;
    begin += len;
  }
  size_t end = text.size();
  while (end > begin) {
    size_t len = trailing_space_len(text, end);
    if (len == 0) break;
    end -= len;
  }
  return text.substr(begin, end - begin);
}

std::string to_nfc(std::string_view text) {
  bool ascii = true;
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      ascii = false;
      break;
    }
  }
  if (ascii) return std::string(text);
  utf8proc_uint8_t* out = nullptr;
  utf8proc_ssize_t n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                    static_cast<utf8proc_ssize_t>(text.size()), &out,
                                    static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (n < 0) return std::string(text);  // not valid UTF-8: leave it as it is
  std::string result(reinterpret_cast<const char*>(out), static_cast<size_t>(n));
  std::free(out);
  return result;
}

namespace {
utf8proc_category_t category(char32_t cp) {
  return utf8proc_category(static_cast<utf8proc_int32_t>(cp));
}
}  // namespace

bool is_cased_letter(char32_t cp) {
  auto c = category(cp);
  return c == UTF8PROC_CATEGORY_LU || c == UTF8PROC_CATEGORY_LL || c == UTF8PROC_CATEGORY_LT;
}

bool is_uppercase_letter(char32_t cp) { return category(cp) == UTF8PROC_CATEGORY_LU; }

bool is_mark(char32_t cp) {
  auto c = category(cp);
  return c == UTF8PROC_CATEGORY_MN || c == UTF8PROC_CATEGORY_MC;
}

bool is_numeric(char32_t cp) {
  auto c = category(cp);
  return c == UTF8PROC_CATEGORY_ND || c == UTF8PROC_CATEGORY_NL || c == UTF8PROC_CATEGORY_NO;
}

}  // namespace brackwater::literal
