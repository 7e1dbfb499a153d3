#include "literal/json_string.h"

#include "literal/byte_scan.h"
#include "literal/unicode.h"

namespace brackwater::literal {

namespace {

constexpr std::string_view kInvalidEscape = "invalid escape";
constexpr std::string_view kLoneSurrogate = "lone leading surrogate in hex escape";
constexpr std::string_view kEndOfHexEscape = "unexpected end of hex escape";
constexpr std::string_view kEofInString = "EOF while parsing a string";
constexpr std::string_view kBadUtf8 = "invalid unicode code point";
constexpr std::string_view kControl = "control character (\\u0000-\\u001F) found while parsing a string";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at text[pos..pos+4) within [.., end).
std::expected<unsigned, std::string_view> hex4(std::string_view text, size_t pos, size_t end) {
  if (end - pos < 4) return std::unexpected(kEofInString);
  unsigned v = 0;
  for (size_t i = 0; i < 4; ++i) {
    int h = hex_value(text[pos + i]);
    if (h < 0) return std::unexpected(kInvalidEscape);
    v = (v << 4) | static_cast<unsigned>(h);
  }
  return v;
}

// Decodes the escape whose backslash is at text[pos] (the closing quote is at `end`). Appends the
// decoded character and returns the offset after the escape.
std::expected<size_t, std::string_view> decode_escape(std::string_view text, size_t pos, size_t end,
                                                      std::string& out) {
  char c = text[pos + 1];
  switch (c) {
    case '"': out.push_back('"'); return pos + 2;
    case '\\': out.push_back('\\'); return pos + 2;
    case '/': out.push_back('/'); return pos + 2;
    case 'b': out.push_back('\b'); return pos + 2;
    case 'f': out.push_back('\f'); return pos + 2;
    case 'n': out.push_back('\n'); return pos + 2;
    case 'r': out.push_back('\r'); return pos + 2;
    case 't': out.push_back('\t'); return pos + 2;
    case 'u': break;
    default: return std::unexpected(kInvalidEscape);
  }
  auto first = hex4(text, pos + 2, end);
  if (!first) return std::unexpected(first.error());
  size_t next = pos + 6;
  unsigned cp = *first;
  if (cp >= 0xDC00 && cp <= 0xDFFF) return std::unexpected(kLoneSurrogate);
  if (cp >= 0xD800 && cp <= 0xDBFF) {
    if (next + 2 > end || text[next] != '\\' || text[next + 1] != 'u') return std::unexpected(kEndOfHexEscape);
    auto second = hex4(text, next + 2, end);
    if (!second) return std::unexpected(second.error());
    if (*second < 0xDC00 || *second > 0xDFFF) return std::unexpected(kLoneSurrogate);
    cp = 0x10000 + ((cp - 0xD800) << 10) + (*second - 0xDC00);
    next += 6;
  }
  append_utf8(out, static_cast<char32_t>(cp));
  return next;
}

// Scans from just after the opening quote at `start` to the closing quote.
std::expected<size_t, JsonStringError::Kind> find_closing_quote(std::string_view text, size_t start,
                                                                bool& has_escape) {
  size_t pos = start + 1;
  while (pos < text.size()) {
    pos = skip_plain_string_bytes(text, pos, text.size());
    if (pos == text.size()) break;
    unsigned char b = static_cast<unsigned char>(text[pos]);
    if (b == '"') return pos;
    if (b == '\\') {
      has_escape = true;
      pos += 2;
      continue;
    }
    if (b < 0x20) return std::unexpected(JsonStringError::Kind::ControlByte);
    ++pos;
  }
  return std::unexpected(JsonStringError::Kind::Unterminated);
}

}  // namespace

std::expected<size_t, JsonStringError> read_json_string(std::string_view text, size_t start, std::string& scratch,
                                                        std::string_view& decoded) {
  bool has_escape = false;
  auto close = find_closing_quote(text, start, has_escape);
  if (!close) return std::unexpected(JsonStringError{close.error(), {}});
  const size_t end = *close;
  auto invalid = [](std::string_view reason) { return std::unexpected(JsonStringError{JsonStringError::Kind::Invalid, reason}); };
  if (!has_escape) {
    for (size_t pos = start + 1; pos < end;) {
      pos = skip_ascii(text, pos, end);
      if (pos == end) break;
      if (static_cast<unsigned char>(text[pos]) < 0x80) {
        ++pos;
        continue;
      }
      size_t len = utf8_sequence_at(text, pos).length;
      if (len == 0 || pos + len > end) return invalid(kBadUtf8);
      pos += len;
    }
    decoded = text.substr(start + 1, end - start - 1);
    return end + 1;
  }
  scratch.clear();
  size_t pos = start + 1;
  while (pos < end) {
    unsigned char b = static_cast<unsigned char>(text[pos]);
    if (b == '\\') {
      auto next = decode_escape(text, pos, end, scratch);
      if (!next) return invalid(next.error());
      pos = *next;
    } else if (b < 0x80) {
      size_t run = pos + 1;
      while (run < end && static_cast<unsigned char>(text[run]) < 0x80 && text[run] != '\\') ++run;
      scratch.append(text.substr(pos, run - pos));
      pos = run;
    } else {
      size_t len = utf8_sequence_at(text, pos).length;
      if (len == 0 || pos + len > end) return invalid(kBadUtf8);
      scratch.append(text.substr(pos, len));
      pos += len;
    }
  }
  decoded = scratch;
  return end + 1;
}

std::expected<std::string_view, std::string_view> decode_string_literal(std::string_view text, std::string& scratch) {
  size_t pos = 0;
  while (pos < text.size() && is_json_space(text[pos])) ++pos;
  if (pos == text.size()) return std::unexpected(std::string_view("EOF while parsing a value"));
  if (text[pos] != '"') return std::unexpected(std::string_view("expected a JSON string"));
  std::string_view decoded;
  auto end = read_json_string(text, pos, scratch, decoded);
  if (!end) {
    switch (end.error().kind) {
      case JsonStringError::Kind::Unterminated: return std::unexpected(kEofInString);
      case JsonStringError::Kind::ControlByte: return std::unexpected(kControl);
      case JsonStringError::Kind::Invalid: return std::unexpected(end.error().reason);
    }
  }
  for (size_t i = *end; i < text.size(); ++i) {
    if (!is_json_space(text[i])) return std::unexpected(std::string_view("trailing characters"));
  }
  return decoded;
}

std::string invalid_string_message(std::string_view text, std::string_view reason) {
  std::string message = "invalid string literal '";
  message.append(text).append("': ").append(reason);
  return message;
}

Parsed<std::string> parse_string_literal(std::string_view text) {
  std::string scratch;
  auto decoded = decode_string_literal(text, scratch);
  if (decoded) return std::string(*decoded);
  return std::unexpected(invalid_string_message(text, decoded.error()));
}

}  // namespace brackwater::literal
