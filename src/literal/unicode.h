// Unicode helpers shared by the engine: UTF-8 decoding, the White_Space property, normal form C and
// general categories. No locale-dependent call is used anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brackwater::literal {

// Decodes the scalar at `pos` of valid UTF-8 text and advances `pos` past it. Invalid bytes decode
// as themselves (one byte each) so that scanning never stalls.
char32_t decode_utf8(std::string_view text, size_t& pos);

// The sequence at text[pos] (pos < text.size()) under strict UTF-8: no overlong forms, no surrogates,
// nothing above U+10FFFF. The one validator of the engine.
struct Utf8Sequence {
  size_t length = 0;   // bytes of the well-formed scalar there (1 to 4), or 0 when it is not well formed
  size_t invalid = 0;  // when not well formed: bytes of the invalid sequence (1 to 3), or 0 when the text
                       // ends inside a sequence that is valid so far
};
Utf8Sequence utf8_sequence_at(std::string_view text, size_t pos);

// Appends the UTF-8 encoding of `cp`.
void append_utf8(std::string& out, char32_t cp);

// The Unicode White_Space property (25 code points).
bool is_white_space(char32_t cp);

// Byte length of the White_Space scalar at `pos` (pos < text.size()), or 0.
size_t white_space_length(std::string_view text, size_t pos);

// `text` without leading and trailing White_Space.
std::string_view trim_white_space(std::string_view text);

// Unicode normal form C (canonical composition). ASCII text is returned unchanged without work.
std::string to_nfc(std::string_view text);

// General-category tests.
bool is_cased_letter(char32_t cp);     // Lu, Ll, Lt
bool is_uppercase_letter(char32_t cp); // Lu
bool is_mark(char32_t cp);             // Mn, Mc
bool is_numeric(char32_t cp);          // Nd, Nl, No
// The derived property Alphabetic (Lu, Ll, Lt, Lm, Lo, Nl and Other_Alphabetic).
bool is_alphabetic(char32_t cp);

}  // namespace brackwater::literal
