#include "velquin/parse_error.h"

#include <algorithm>

namespace brackwater::velquin {

namespace {

void sort_unique(std::vector<Rule>& rules) {
  std::sort(rules.begin(), rules.end());
  rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
}

// "a", "a or b", "a, b, or c".
std::string enumerate(const std::vector<Rule>& rules) {
  std::string out;
  for (size_t i = 0; i < rules.size(); ++i) {
    if (i > 0) {
      if (rules.size() == 2) {
        out += " or ";
      } else {
        out += i + 1 == rules.size() ? ", or " : ", ";
      }
    }
    out += rule_name(rules[i]);
  }
  return out;
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

ParsingError ParsingError::make(std::string_view text, size_t pos, std::vector<Rule> positives,
                                std::vector<Rule> negatives) {
  ParsingError e;
  sort_unique(positives);
  sort_unique(negatives);
  e.positives = std::move(positives);
  e.negatives = std::move(negatives);
  pos = std::min(pos, text.size());
  e.pos = pos;

  const size_t last_feed = pos == 0 ? std::string_view::npos : text.rfind('\n', pos - 1);
  const size_t line_start = last_feed == std::string_view::npos ? 0 : last_feed + 1;
  e.line = 1 + static_cast<size_t>(std::count(text.begin(), text.begin() + line_start, '\n'));
  e.col = 1 + static_cast<size_t>(std::count_if(text.begin() + line_start, text.begin() + pos,
                                                [](char c) { return !is_continuation(c); }));

  size_t line_end = text.find('\n', pos);
  line_end = line_end == std::string_view::npos ? text.size() : line_end;
  std::string_view shown = text.substr(line_start, line_end - line_start);
  e.line_text.reserve(shown.size());
  for (size_t from = 0; from < shown.size();) {
    size_t cr = shown.find('\r', from);
    if (cr == std::string_view::npos) cr = shown.size();
    e.line_text.append(shown.substr(from, cr - from));
    from = cr + 1;
  }
  return e;
}

std::string ParsingError::to_text() const {
  const std::string number = std::to_string(line);
  const std::string spacing(number.size(), ' ');

  std::string underline;
  size_t remaining = col - 1;
  for (size_t i = 0; i < line_text.size() && remaining > 0; ++i) {
    if (is_continuation(line_text[i])) continue;
    underline.push_back(line_text[i] == '\t' ? '\t' : ' ');
    --remaining;
  }
  underline += "^---";

  std::string wording;
  if (!negatives.empty() && !positives.empty()) {
    wording = "unexpected " + enumerate(negatives) + "; expected " + enumerate(positives);
  } else if (!negatives.empty()) {
    wording = "unexpected " + enumerate(negatives);
  } else if (!positives.empty()) {
    wording = "expected " + enumerate(positives);
  } else {
    wording = "unknown parsing error";
  }

  std::string out;
  out.reserve(2 * line_text.size() + wording.size() + 8 * spacing.size() + 40);
  out.append(spacing).append("--> ").append(number).append(":").append(std::to_string(col)).append("\n");
  out.append(spacing).append(" |\n");
  out.append(number).append(" | ").append(line_text).append("\n");
  out.append(spacing).append(" | ").append(underline).append("\n");
  out.append(spacing).append(" |\n");
  out.append(spacing).append(" = ").append(wording);
  return out;
}

std::string parse_message(const ParsingError& error) {
  std::string out = error.to_text();
  if (error.positives.empty()) return out;
  std::vector<std::string_view> descriptions;
  descriptions.reserve(error.positives.size());
  for (Rule r : error.positives) descriptions.push_back(rule_description(r));
  std::sort(descriptions.begin(), descriptions.end());
  descriptions.erase(std::unique(descriptions.begin(), descriptions.end()), descriptions.end());
  out += "\nExpected one of: ";
  for (size_t i = 0; i < descriptions.size(); ++i) {
    if (i > 0) out += ", ";
    out += descriptions[i];
  }
  return out;
}

}  // namespace brackwater::velquin
