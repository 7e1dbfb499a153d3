// Token rules: numbers, certainties, times, JSON objects and strings, names, roles, symbols.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "velquin/parser_state.h"

namespace brackwater::velquin::grammar {

// One term of a rule body, as a callable.
#define TERM(expr) [&]() -> bool { return expr; }

// The words a plain variable may not be, tried in this order.
constexpr std::string_view kKeywords[] = {
    "add", "role", "posit", "search", "return", "where", "as",    "of",    "in",
    "effect", "via", "limit", "and", "assert", "or",  "with",  "at",    "latest",
    "union", "not", "exists", "distinct", "order", "by", "asc", "desc",
};

// For each lower-case first letter, the keywords that begin with it, in the order above.
struct KeywordsByFirst {
  uint8_t count[26] = {};
  uint8_t index[26][8] = {};
};
constexpr KeywordsByFirst kKeywordsByFirst = [] {
  KeywordsByFirst t;
  for (size_t i = 0; i < std::size(kKeywords); ++i) {
    const size_t c = static_cast<size_t>(kKeywords[i][0] - 'a');
    t.index[c][t.count[c]++] = static_cast<uint8_t>(i);
  }
  return t;
}();

// ASCII letters, digits and "_": the name characters that need no decoding.
inline bool is_ascii_name_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool Parser::int_() {
  return leaf(Rule::int_, TERM(seq(TERM(opt(TERM(sign()))), TERM(plus(TERM(digit()))))));
}

bool Parser::decimal() {
  return leaf(Rule::decimal, TERM(seq(TERM(opt(TERM(sign()))), TERM(plus(TERM(digit()))), TERM(match('.')),
                                         TERM(plus(TERM(digit()))))));
}

bool Parser::certainty() {
  return leaf(Rule::certainty, TERM(seq(TERM(opt(TERM(sign()))), TERM(digit()), TERM(opt(TERM(digit()))),
                                           TERM(opt(TERM(digit()))), TERM(match('%')))));
}

bool Parser::time() {
  if (cannot_start_with('\'')) return false;
  auto time_char = TERM(digit() || match('-') || match(':') || match('.') || match('T') || match(' '));
  return leaf(Rule::time, TERM(seq(TERM(match('\'')), TERM(plus(time_char)), TERM(match('\'')))));
}

size_t Parser::scan_string(size_t p) const {
  // p is at the opening double quote. A backslash takes the next character whatever it is, so a
  // double quote closes the string exactly when an even run of backslashes stands before it (the
  // character before the run is no backslash, and takes none). The delimiters are ASCII and never
  // inside a multi-byte character, so the search can step over bytes.
  const size_t first = p + 1;
  for (size_t from = first; from < n_;) {
    const void* found = std::memchr(s_ + from, '"', n_ - from);
    if (found == nullptr) return kNone;
    const size_t quote = static_cast<size_t>(static_cast<const char*>(found) - s_);
    size_t run = quote;
    while (run > first && s_[run - 1] == '\\') --run;
    if ((quote - run) % 2 == 0) return quote + 1;
    from = quote + 1;
  }
  return kNone;
}

bool Parser::scan_nested(char open) {
  if (pos_ >= n_ || s_[pos_] != open) return false;
  closers_.clear();
  closers_.push_back(open == '{' ? '}' : ']');
  for (size_t p = pos_ + 1; p < n_;) {
    switch (s_[p]) {
      case '{':
        closers_.push_back('}');
        ++p;
        break;
      case '[':
        closers_.push_back(']');
        ++p;
        break;
      case '}':
      case ']':
        if (s_[p] != closers_.back()) return false;
        closers_.pop_back();
        ++p;
        if (closers_.empty()) {
          pos_ = p;
          return true;
        }
        break;
      case '"':
        p = scan_string(p);
        if (p == kNone) return false;
        break;
      default:
        ++p;
    }
  }
  return false;
}

bool Parser::json_string() {
  if (atomicity_ == Atomicity::Atomic) {
    if (pos_ >= n_ || s_[pos_] != '"') return false;
    const size_t end = scan_string(pos_);
    if (end == kNone) return false;
    pos_ = end;
    return true;
  }
  auto escaped = TERM(seq(TERM(match('\\')), TERM(match_any())));
  auto plain = TERM(seq(TERM(neg(TERM(match('"')))), TERM(match_any())));
  return normal(Rule::json_string,
                TERM(seq(TERM(match('"')), TERM(star(TERM(escaped() || plain()))), TERM(match('"')))));
}

bool Parser::json_plain_char() {
  auto delimiter = TERM(match('{') || match('}') || match('[') || match(']') || match('"'));
  return seq(TERM(neg(delimiter)), TERM(match_any()));
}

bool Parser::json_object() {
  if (atomicity_ == Atomicity::Atomic) return scan_nested('{');
  return json_nested_rules(Rule::json_object);
}

bool Parser::json_array() {
  if (atomicity_ == Atomicity::Atomic) return scan_nested('[');
  return json_nested_rules(Rule::json_array);
}

// json_object = "{" ~ (json_string | json_object | json_array | !(delimiter) ~ ANY)* ~ "}" and
// json_array likewise with "[" and "]", run with an explicit stack of open rules. Each open rule
// remembers its entry and where its current repetition unit began; an item that fails ends the
// repetition, after which the closing bracket decides the rule.
bool Parser::json_nested_rules(Rule first) {
  struct Open {
    Entry entry;
    size_t unit_start;
    bool in_unit;
  };
  std::vector<Open> stack;
  auto open = [&](Rule r) {
    const Entry e = enter(r);
    if (match(r == Rule::json_object ? '{' : '[')) {
      skip();
      stack.push_back(Open{e, 0, false});
      return true;
    }
    leave(e, false);
    return false;
  };
  if (!open(first)) return false;

  enum class Step { Item, Matched, Failed };
  Step step = Step::Item;
  for (;;) {
    switch (step) {
      case Step::Item:
        if (json_string()) {
          step = Step::Matched;
        } else if (open(Rule::json_object) || open(Rule::json_array)) {
          step = Step::Item;
        } else {
          step = json_plain_char() ? Step::Matched : Step::Failed;
        }
        break;
      case Step::Matched: {
        Open& top = stack.back();
        top.unit_start = pos_;
        top.in_unit = true;
        skip();
        step = Step::Item;
        break;
      }
      case Step::Failed: {
        const Open top = stack.back();
        stack.pop_back();
        if (top.in_unit) pos_ = top.unit_start;
        skip();
        const bool ok = match(top.entry.rule == Rule::json_object ? '}' : ']');
        if (!ok) pos_ = top.entry.pos;
        leave(top.entry, ok);
        if (stack.empty()) return ok;
        if (ok) {
          step = Step::Matched;
        } else if (top.entry.rule == Rule::json_object && open(Rule::json_array)) {
          step = Step::Item;
        } else {
          step = json_plain_char() ? Step::Matched : Step::Failed;
        }
        break;
      }
    }
  }
}

bool Parser::json() {
  if (cannot_start_with('{')) return false;
  return atomic_leaf(Rule::json, TERM(json_object()));
}

bool Parser::string() {
  if (cannot_start_with('"')) return false;
  return atomic_leaf(Rule::string, TERM(json_string()));
}

bool Parser::keyword() {
  return leaf(Rule::keyword, [&] {
    if (pos_ >= n_) return false;
    const auto c = static_cast<size_t>(static_cast<unsigned char>(s_[pos_]) - 'a');
    if (c >= 26) return false;
    for (size_t i = 0; i < kKeywordsByFirst.count[c]; ++i) {
      if (match(kKeywords[kKeywordsByFirst.index[c][i]])) return true;
    }
    return false;
  });
}

bool Parser::identifier() {
  return leaf(Rule::identifier, [&] {
    if (atomicity_ != Atomicity::NonAtomic) {
      if (!match_class(is_cased)) return false;
      for (;;) {
        while (pos_ < n_ && is_ascii_name_char(s_[pos_])) ++pos_;
        if (pos_ >= n_ || static_cast<unsigned char>(s_[pos_]) < 0x80 || !match_class(is_cased)) return true;
      }
    }
    return seq(TERM(match_class(is_cased)), TERM(star(TERM(name_char()))));
  });
}

bool Parser::variable() {
  return compound_atomic(Rule::variable, [&] {
    auto reserved = TERM(seq(TERM(keyword()), TERM(neg(TERM(name_char())))));
    return seq(TERM(neg(reserved)), TERM(identifier()));
  });
}

bool Parser::constant() {
  if (cannot_start_with('@')) return false;
  return leaf(Rule::constant, TERM(seq(TERM(match('@')), TERM(plus(TERM(match_class(is_upper)))))));
}

bool Parser::query_variable() {
  if (cannot_start_with('?')) return false;
  return atomic_leaf(Rule::query_variable, TERM(seq(TERM(match('?')), TERM(identifier()))));
}

bool Parser::parameter() {
  if (cannot_start_with('$')) return false;
  return atomic_leaf(Rule::parameter, TERM(seq(TERM(match('$')), TERM(identifier()))));
}

bool Parser::bare_role() {
  return atomic_leaf(Rule::bare_role, [&] {
    if (!match_class(is_cased_or_mark)) return false;
    for (;;) {
      while (pos_ < n_ && is_ascii_name_char(s_[pos_])) ++pos_;
      if (pos_ >= n_ || static_cast<unsigned char>(s_[pos_]) < 0x80 || !match_class(is_cased_or_mark)) return true;
    }
  });
}

bool Parser::quoted_role() {
  if (cannot_start_with('`')) return false;
  return atomic_leaf(Rule::quoted_role, [&] {
    if (pos_ >= n_ || s_[pos_] != '`') return false;
    const void* close = std::memchr(s_ + pos_ + 1, '`', n_ - pos_ - 1);
    if (close == nullptr) return false;
    pos_ = static_cast<size_t>(static_cast<const char*>(close) - s_) + 1;
    return true;
  });
}

bool Parser::role() {
  return normal(Rule::role, TERM(quoted_role() || bare_role()));
}

bool Parser::wildcard() {
  if (cannot_start_with('*')) return false;
  return leaf(Rule::wildcard, TERM(match('*')));
}

bool Parser::ellipsis() {
  if (cannot_start_with('.')) return false;
  return leaf(Rule::ellipsis, TERM(match("...")));
}

bool Parser::comparator() {
  return leaf(Rule::comparator, TERM(match("===") || match("?=") || match("<=") || match(">=") || match('<') ||
                                        match('>') || match('=')));
}

#undef TERM

}  // namespace brackwater::velquin::grammar
