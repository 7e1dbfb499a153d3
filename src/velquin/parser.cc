#include "velquin/parser.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "literal/unicode.h"

namespace brackwater::velquin {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
constexpr char32_t kInvalid = 0xFFFFFFFF;

enum class Atomicity : uint8_t { NonAtomic, Atomic, CompoundAtomic };
enum class Lookahead : uint8_t { None, Positive, Negative };

// The words a plain variable may not be, tried in this order.
constexpr std::string_view kKeywords[] = {
    "add", "role", "posit", "search", "return", "where", "as",    "of",    "in",
    "effect", "via", "limit", "and", "assert", "or",  "with",  "at",    "latest",
    "union", "not", "exists", "distinct", "order", "by", "asc", "desc",
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool is_cased(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return c != kInvalid && literal::is_cased_letter(c);
}
bool is_upper(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z';
  return c != kInvalid && literal::is_uppercase_letter(c);
}
bool is_mark(char32_t c) { return c >= 0x80 && c != kInvalid && literal::is_mark(c); }
bool is_cased_or_mark(char32_t c) { return is_cased(c) || is_mark(c); }

// The parser state of one parse: the text, the position, the pair queue (nodes in pre-order, each
// finished when its rule succeeds), the atomicity, the lookahead state and the error record.
//
// Every matching function either succeeds, having advanced the position and appended its pairs, or
// fails and leaves the position and the pairs exactly as it found them.
class Parser {
 public:
  Parser(std::string_view text, std::vector<Node>& nodes) : s_(text.data()), n_(text.size()), nodes_(nodes) {}

  bool run(Rule start);

  size_t furthest() const { return furthest_; }
  std::vector<Rule> take_expected() { return std::move(expected_); }
  std::vector<Rule> take_unexpected() { return std::move(unexpected_); }

 private:
  // What a rule remembers from its entry for the pair it makes and for the error record.
  struct Entry {
    size_t pos;
    size_t expected_size;    // sizes of the lists when the record was at `pos` on entry, else 0
    size_t unexpected_size;
    size_t node;             // index of the rule's own node (or where it would have gone)
    Rule rule;
    bool make_pair;
  };

  // ---- Built-in terms: no pairs, never recorded.

  bool match(char c) {
    if (pos_ < n_ && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool match(std::string_view t) {
    if (n_ - pos_ < t.size()) return false;
    for (size_t i = 0; i < t.size(); ++i) {
      if (s_[pos_ + i] != t[i]) return false;
    }
    pos_ += t.size();
    return true;
  }
  // `t` is lower case; A-Z in the input match a-z, every other byte only itself.
  bool match_folded(std::string_view t) {
    if (n_ - pos_ < t.size()) return false;
    for (size_t i = 0; i < t.size(); ++i) {
      char c = s_[pos_ + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
      if (c != t[i]) return false;
    }
    pos_ += t.size();
    return true;
  }
  bool match_digit() {
    if (pos_ < n_ && s_[pos_] >= '0' && s_[pos_] <= '9') {
      ++pos_;
      return true;
    }
    return false;
  }
  bool match_any() {
    if (pos_ >= n_) return false;
    decode(pos_);
    return true;
  }
  template <class Pred>
  bool match_class(Pred pred) {
    if (pos_ >= n_) return false;
    size_t p = pos_;
    if (!pred(decode(p))) return false;
    pos_ = p;
    return true;
  }
  bool name_char() { return match_class(is_cased) || match_digit() || match('_'); }

  // Decodes one scalar at `p` and moves past it; a malformed byte is one character of no class.
  char32_t decode(size_t& p) const {
    const auto b = static_cast<unsigned char>(s_[p]);
    if (b < 0x80) {
      ++p;
      return b;
    }
    const size_t from = p;
    const char32_t cp = literal::decode_utf8(std::string_view(s_, n_), p);
    return p - from == 1 ? kInvalid : cp;  // a scalar beyond ASCII takes two bytes or more
  }

  // ---- The implicit skip: WHITESPACE* ~ (COMMENT ~ WHITESPACE*)*, only in a non-atomic context.

  [[gnu::always_inline]] void skip() {
    if (atomicity_ != Atomicity::NonAtomic || pos_ >= n_) return;
    char c = s_[pos_];
    if (!is_blank(c) && c != '/') return;
    skip_blanks_and_comments();
  }
  void skip_blanks_and_comments();
  // The offset of the first "*/" at or after `from`, or kNone.
  size_t comment_close(size_t from);

  // ---- Operators.

  template <class F, class... Fs>
  bool seq(F&& first, Fs&&... rest) {
    const size_t p = pos_;
    const size_t q = nodes_.size();
    if (!first()) return false;
    if (((skip(), rest()) && ...)) return true;
    pos_ = p;
    truncate(q);
    return false;
  }
  template <class... Fs>
  bool choice(Fs&&... alternatives) {
    return (alternatives() || ...);
  }
  template <class F>
  bool opt(F&& f) {
    f();
    return true;
  }
  // A, then units of (skip, A) until one fails; the failed unit is given back with its skip.
  template <class F>
  bool star(F&& f) {
    if (!f()) return true;
    for (;;) {
      const size_t p = pos_;
      skip();
      if (!f()) {
        pos_ = p;
        return true;
      }
    }
  }
  // A, skip, A*: the skip after the first A stays consumed.
  template <class F>
  bool plus(F&& f) {
    if (!f()) return false;
    skip();
    return star(f);
  }
  template <class F>
  bool neg(F&& f) {
    const size_t p = pos_;
    const Lookahead saved = lookahead_;
    lookahead_ = saved == Lookahead::Negative ? Lookahead::Positive : Lookahead::Negative;
    const bool matched = f();
    pos_ = p;
    lookahead_ = saved;
    return !matched;
  }

  // ---- Rule frame.

  [[gnu::always_inline]] Entry enter(Rule r) {
    Entry e{pos_, 0, 0, nodes_.size(), r, lookahead_ == Lookahead::None && atomicity_ != Atomicity::Atomic};
    if (furthest_ == pos_) {
      e.expected_size = expected_.size();
      e.unexpected_size = unexpected_.size();
    }
    if (e.make_pair) nodes_.push_back(Node{pos_, pos_, 0, r});
    return e;
  }
  // `atomicity_` is the caller's again when this runs.
  [[gnu::always_inline]] bool leave(const Entry& e, bool ok) {
    if (atomicity_ != Atomicity::Atomic && ok == (lookahead_ == Lookahead::Negative)) track(e);
    if (!ok) {
      truncate(e.node);
    } else if (e.make_pair) {
      Node& node = nodes_[e.node];
      node.end = pos_;
      node.end_index = nodes_.size();
    }
    return ok;
  }
  // A rule that calls no other rule that makes pairs: its node is appended only when it succeeds.
  [[gnu::always_inline]] Entry enter_leaf(Rule r) {
    Entry e{pos_, 0, 0, nodes_.size(), r, lookahead_ == Lookahead::None && atomicity_ != Atomicity::Atomic};
    if (furthest_ == pos_) {
      e.expected_size = expected_.size();
      e.unexpected_size = unexpected_.size();
    }
    return e;
  }
  [[gnu::always_inline]] bool leave_leaf(const Entry& e, bool ok) {
    if (atomicity_ != Atomicity::Atomic && ok == (lookahead_ == Lookahead::Negative)) track(e);
    if (ok && e.make_pair) nodes_.push_back(Node{e.pos, pos_, e.node + 1, e.rule});
    return ok;
  }
  void track(const Entry& e);
  void truncate(size_t size) {
    if (nodes_.size() > size) nodes_.resize(size);
  }

  template <class F>
  bool normal(Rule r, F&& body) {
    const Entry e = enter(r);
    return leave(e, body());
  }
  template <class F>
  bool leaf(Rule r, F&& body) {
    const Entry e = enter_leaf(r);
    return leave_leaf(e, body());
  }
  template <class F>
  bool atomic_leaf(Rule r, F&& body) {
    const Entry e = enter_leaf(r);
    return leave_leaf(e, with_atomicity(Atomicity::Atomic, body));
  }
  template <class F>
  bool with_atomicity(Atomicity a, F&& body) {
    const Atomicity saved = atomicity_;
    atomicity_ = a;
    const bool ok = body();
    atomicity_ = saved;
    return ok;
  }
  template <class F>
  bool atomic(Rule r, F&& body) {
    const Entry e = enter(r);
    return leave(e, with_atomicity(Atomicity::Atomic, body));
  }
  template <class F>
  bool compound_atomic(Rule r, F&& body) {
    const Entry e = enter(r);
    return leave(e, with_atomicity(Atomicity::CompoundAtomic, body));
  }

  // ---- Frame rules.
  bool velquin();
  bool eoi();
  bool comment();
  bool whitespace();

  // ---- Tokens.
  bool digit() { return match_digit(); }
  bool sign() { return match('-') || match('+'); }
  bool int_();
  bool decimal();
  bool certainty();
  bool time();
  bool json_string();
  bool json_object();
  bool json_array();
  bool json();
  bool string();
  bool keyword();
  bool identifier();
  bool variable();
  bool constant();
  bool query_variable();
  bool parameter();
  bool bare_role();
  bool quoted_role();
  bool role();
  bool wildcard();
  bool ellipsis();
  bool comparator();

  // Bracket and quote scanners of the JSON tokens (atomic context).
  bool scan_nested(char open);
  size_t scan_string(size_t p) const;
  // The JSON bracket rules in a non-atomic context, with pairs and records, without recursion.
  bool json_nested_rules(Rule first);
  bool json_plain_char();

  // ---- Statements.
  bool add_role();
  bool insert();
  bool recall();
  bool appearance();
  bool appearance_set();
  bool appearing_value();
  bool appearance_time();
  bool posit();
  bool assertion_binding();
  bool assertion_source();
  bool assertion_certainty();
  bool assertion_time();
  bool and_assert_clause();
  bool posit_addition();
  bool add_posit();
  bool recall_union();

  // ---- Searches.
  bool query_union();
  bool appearance_search();
  bool appearance_list();
  bool appearance_set_binding();
  bool appearance_set_search();
  bool appearing_value_search();
  bool appearance_time_search();
  bool posit_binding();
  bool latest_marker();
  bool posit_search();
  bool via_posit();
  bool effect_cut_operand();
  bool in_effect_clause();
  bool via_clause();
  bool as_of_clause();
  bool variable_reference();
  bool distinct();
  bool return_clause();
  bool search_clause();
  bool union_clause();
  bool not_exists_clause();
  bool rhs_value();
  bool condition();
  bool where_clause();
  bool limit_clause();
  bool direction();
  bool order_item();
  bool order_by_clause();
  bool or_add_clause();
  bool search();

  // `(item ~ ","?)+`
  template <class F>
  bool comma_list(F&& item);
  // The bracketed three slots shared by posit_search and via_posit.
  bool pattern_slots();

  const char* s_;
  size_t n_;
  size_t pos_ = 0;
  std::vector<Node>& nodes_;
  Atomicity atomicity_ = Atomicity::NonAtomic;
  Lookahead lookahead_ = Lookahead::None;

  // Error record.
  size_t furthest_ = 0;
  std::vector<Rule> expected_;
  std::vector<Rule> unexpected_;

  // The skip is a pure function of the position: remember the last one, and where no "*/" follows.
  size_t skip_from_ = kNone;
  size_t skip_to_ = 0;
  size_t no_close_from_ = kNone;

  std::string closers_;  // scratch stack of scan_nested
};

// A piece of a rule body.
#define PIECE(expr) [&]() -> bool { return expr; }

// ---------------------------------------------------------------------------------------------
// Frame

void Parser::track(const Entry& e) {
  const size_t before = e.expected_size + e.unexpected_size;
  const size_t after = furthest_ == e.pos ? expected_.size() + unexpected_.size() : 0;
  if (after == before + 1) return;  // the one inner entry stands for this rule
  if (e.pos == furthest_) {
    if (expected_.size() > e.expected_size) expected_.resize(e.expected_size);
    if (unexpected_.size() > e.unexpected_size) unexpected_.resize(e.unexpected_size);
  } else if (e.pos > furthest_) {
    expected_.clear();
    unexpected_.clear();
    furthest_ = e.pos;
  } else {
    return;
  }
  (lookahead_ == Lookahead::Negative ? unexpected_ : expected_).push_back(e.rule);
}

size_t Parser::comment_close(size_t from) {
  if (from >= no_close_from_ || from >= n_) return kNone;
  const void* hit = memmem(s_ + from, n_ - from, "*/", 2);
  if (hit == nullptr) {
    no_close_from_ = from;
    return kNone;
  }
  return static_cast<size_t>(static_cast<const char*>(hit) - s_);
}

void Parser::skip_blanks_and_comments() {
  if (pos_ == skip_from_) {
    pos_ = skip_to_;
    return;
  }
  const size_t start = pos_;
  size_t p = pos_;
  while (p < n_ && is_blank(s_[p])) ++p;
  while (n_ - p >= 2 && s_[p] == '/' && s_[p + 1] == '*') {
    const size_t close = comment_close(p + 2);
    if (close == kNone) break;  // an unterminated "/*" is no comment
    p = close + 2;
    while (p < n_ && is_blank(s_[p])) ++p;
  }
  skip_from_ = start;
  skip_to_ = p;
  pos_ = p;
}

bool Parser::velquin() {
  return seq(PIECE(pos_ == 0), PIECE(star(PIECE(add_role() || add_posit() || search()))), PIECE(eoi()));
}

bool Parser::eoi() {
  return leaf(Rule::EOI, PIECE(pos_ == n_));
}

bool Parser::comment() {
  return with_atomicity(Atomicity::Atomic, [&] {
    if (n_ - pos_ < 2 || s_[pos_] != '/' || s_[pos_ + 1] != '*') return false;
    const size_t close = comment_close(pos_ + 2);
    if (close == kNone) return false;
    pos_ = close + 2;
    return true;
  });
}

bool Parser::whitespace() {
  if (pos_ < n_ && is_blank(s_[pos_])) {
    ++pos_;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Tokens

bool Parser::int_() {
  return leaf(Rule::int_, PIECE(seq(PIECE(opt(PIECE(sign()))), PIECE(plus(PIECE(digit()))))));
}

bool Parser::decimal() {
  return leaf(Rule::decimal, PIECE(seq(PIECE(opt(PIECE(sign()))), PIECE(plus(PIECE(digit()))), PIECE(match('.')),
                                         PIECE(plus(PIECE(digit()))))));
}

bool Parser::certainty() {
  return leaf(Rule::certainty, PIECE(seq(PIECE(opt(PIECE(sign()))), PIECE(digit()), PIECE(opt(PIECE(digit()))),
                                           PIECE(opt(PIECE(digit()))), PIECE(match('%')))));
}

bool Parser::time() {
  auto time_char = PIECE(digit() || match('-') || match(':') || match('.') || match('T') || match(' '));
  return leaf(Rule::time, PIECE(seq(PIECE(match('\'')), PIECE(plus(time_char)), PIECE(match('\'')))));
}

size_t Parser::scan_string(size_t p) const {
  // p is at the opening double quote. A backslash takes the next character whatever it is; the
  // delimiters are ASCII, so stepping bytes is the same as stepping characters.
  for (++p; p < n_; ++p) {
    const char c = s_[p];
    if (c == '"') return p + 1;
    if (c == '\\') {
      if (n_ - p < 2) return kNone;
      ++p;
    }
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
  auto escaped = PIECE(seq(PIECE(match('\\')), PIECE(match_any())));
  auto plain = PIECE(seq(PIECE(neg(PIECE(match('"')))), PIECE(match_any())));
  return normal(Rule::json_string,
                PIECE(seq(PIECE(match('"')), PIECE(star(PIECE(escaped() || plain()))), PIECE(match('"')))));
}

bool Parser::json_plain_char() {
  auto delimiter = PIECE(match('{') || match('}') || match('[') || match(']') || match('"'));
  return seq(PIECE(neg(delimiter)), PIECE(match_any()));
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
  return atomic_leaf(Rule::json, PIECE(json_object()));
}

bool Parser::string() {
  return atomic_leaf(Rule::string, PIECE(json_string()));
}

bool Parser::keyword() {
  return leaf(Rule::keyword, [&] {
    if (pos_ >= n_) return false;
    for (std::string_view k : kKeywords) {
      if (k[0] == s_[pos_] && match(k)) return true;
    }
    return false;
  });
}

bool Parser::identifier() {
  return leaf(Rule::identifier, [&] {
    if (atomicity_ != Atomicity::NonAtomic) {
      if (!match_class(is_cased)) return false;
      while (name_char()) {
      }
      return true;
    }
    return seq(PIECE(match_class(is_cased)), PIECE(star(PIECE(name_char()))));
  });
}

bool Parser::variable() {
  return compound_atomic(Rule::variable, [&] {
    auto reserved = PIECE(seq(PIECE(keyword()), PIECE(neg(PIECE(name_char())))));
    return seq(PIECE(neg(reserved)), PIECE(identifier()));
  });
}

bool Parser::constant() {
  return leaf(Rule::constant, PIECE(seq(PIECE(match('@')), PIECE(plus(PIECE(match_class(is_upper)))))));
}

bool Parser::query_variable() {
  return atomic_leaf(Rule::query_variable, PIECE(seq(PIECE(match('?')), PIECE(identifier()))));
}

bool Parser::parameter() {
  return atomic_leaf(Rule::parameter, PIECE(seq(PIECE(match('$')), PIECE(identifier()))));
}

bool Parser::bare_role() {
  return atomic_leaf(Rule::bare_role, [&] {
    if (!match_class(is_cased_or_mark)) return false;
    while (match_class(is_cased_or_mark) || match_digit() || match('_')) {
    }
    return true;
  });
}

bool Parser::quoted_role() {
  return atomic_leaf(Rule::quoted_role, [&] {
    if (pos_ >= n_ || s_[pos_] != '`') return false;
    const void* close = std::memchr(s_ + pos_ + 1, '`', n_ - pos_ - 1);
    if (close == nullptr) return false;
    pos_ = static_cast<size_t>(static_cast<const char*>(close) - s_) + 1;
    return true;
  });
}

bool Parser::role() {
  return normal(Rule::role, PIECE(quoted_role() || bare_role()));
}

bool Parser::wildcard() {
  return leaf(Rule::wildcard, PIECE(match('*')));
}

bool Parser::ellipsis() {
  return leaf(Rule::ellipsis, PIECE(match("...")));
}

bool Parser::comparator() {
  return leaf(Rule::comparator, PIECE(match("===") || match("?=") || match("<=") || match(">=") || match('<') ||
                                        match('>') || match('=')));
}

// ---------------------------------------------------------------------------------------------
// add role, add posit

template <class F>
bool Parser::comma_list(F&& item) {
  return plus(PIECE(seq(item, PIECE(opt(PIECE(match(',')))))));
}

bool Parser::add_role() {
  return normal(Rule::add_role,
                PIECE(seq(PIECE(match_folded("add role")), PIECE(comma_list(PIECE(role()))), PIECE(match(';')))));
}

bool Parser::insert() {
  return normal(Rule::insert, PIECE(seq(PIECE(match('+')), PIECE(variable()))));
}

bool Parser::recall() {
  return normal(Rule::recall, PIECE(variable()));
}

bool Parser::appearance() {
  return normal(Rule::appearance, PIECE(seq(PIECE(match('(')), PIECE(insert() || recall()), PIECE(match(',')),
                                            PIECE(role()), PIECE(match(')')))));
}

bool Parser::appearance_set() {
  return normal(Rule::appearance_set,
                PIECE(seq(PIECE(match('{')), PIECE(comma_list(PIECE(appearance()))), PIECE(match('}')))));
}

bool Parser::appearing_value() {
  return normal(Rule::appearing_value, PIECE(parameter() || constant() || json() || string() || time() ||
                                             certainty() || decimal() || int_()));
}

bool Parser::appearance_time() {
  return normal(Rule::appearance_time, PIECE(parameter() || constant() || time()));
}

bool Parser::posit() {
  return normal(Rule::posit,
                PIECE(seq(PIECE(opt(PIECE(insert()))), PIECE(match('[')), PIECE(appearance_set()), PIECE(match(',')),
                          PIECE(appearing_value()), PIECE(match(',')), PIECE(appearance_time()), PIECE(match(']')))));
}

bool Parser::assertion_binding() {
  return normal(Rule::assertion_binding, PIECE(insert()));
}

bool Parser::assertion_source() {
  return normal(Rule::assertion_source, PIECE(insert() || recall()));
}

bool Parser::assertion_certainty() {
  return normal(Rule::assertion_certainty, PIECE(parameter() || certainty()));
}

bool Parser::assertion_time() {
  return normal(Rule::assertion_time, PIECE(parameter() || constant() || time()));
}

bool Parser::and_assert_clause() {
  return normal(Rule::and_assert_clause,
                PIECE(seq(PIECE(match_folded("and assert")), PIECE(opt(PIECE(assertion_binding()))),
                          PIECE(match_folded("by")), PIECE(assertion_source()), PIECE(match_folded("with")),
                          PIECE(assertion_certainty()), PIECE(match_folded("at")), PIECE(assertion_time()))));
}

bool Parser::posit_addition() {
  return seq(PIECE(posit()), PIECE(opt(PIECE(and_assert_clause()))));
}

bool Parser::add_posit() {
  return normal(Rule::add_posit, PIECE(seq(PIECE(match_folded("add posit")), PIECE(comma_list(PIECE(posit_addition()))),
                                           PIECE(match(';')))));
}

bool Parser::recall_union() {
  return normal(Rule::recall_union,
                PIECE(seq(PIECE(recall()), PIECE(plus(PIECE(seq(PIECE(match('|')), PIECE(recall()))))))));
}

// ---------------------------------------------------------------------------------------------
// Posit patterns

bool Parser::query_union() {
  return normal(Rule::query_union,
                PIECE(seq(PIECE(query_variable()), PIECE(plus(PIECE(seq(PIECE(match('|')), PIECE(query_variable()))))))));
}

bool Parser::appearance_search() {
  return normal(Rule::appearance_search,
                PIECE(seq(PIECE(match('(')), PIECE(wildcard() || query_union() || query_variable()), PIECE(match(',')),
                          PIECE(wildcard() || query_variable() || role()), PIECE(match(')')))));
}

bool Parser::appearance_list() {
  auto patterns = PIECE(seq(PIECE(appearance_search()),
                            PIECE(star(PIECE(seq(PIECE(match(',')), PIECE(appearance_search()))))),
                            PIECE(opt(PIECE(seq(PIECE(match(',')), PIECE(ellipsis())))))));
  return normal(Rule::appearance_list, PIECE(patterns() || ellipsis()));
}

bool Parser::appearance_set_binding() {
  return normal(Rule::appearance_set_binding, PIECE(seq(PIECE(query_variable()), PIECE(match('=')))));
}

bool Parser::appearance_set_search() {
  auto braces = PIECE(seq(PIECE(match('{')), PIECE(opt(PIECE(appearance_list()))), PIECE(match('}'))));
  return normal(Rule::appearance_set_search,
                PIECE(seq(PIECE(opt(PIECE(appearance_set_binding()))), PIECE(wildcard() || braces()))));
}

bool Parser::appearing_value_search() {
  return normal(Rule::appearing_value_search,
                PIECE(wildcard() || query_variable() || parameter() || constant() || json() || string() || time() ||
                      certainty() || decimal() || int_()));
}

bool Parser::appearance_time_search() {
  return normal(Rule::appearance_time_search,
                PIECE(wildcard() || query_variable() || parameter() || constant() || time()));
}

bool Parser::posit_binding() {
  return normal(Rule::posit_binding, PIECE(seq(PIECE(query_variable()), PIECE(match('=')))));
}

bool Parser::latest_marker() {
  return leaf(Rule::latest_marker, PIECE(match_folded("latest")));
}

bool Parser::pattern_slots() {
  return seq(PIECE(match('[')), PIECE(appearance_set_search()), PIECE(match(',')), PIECE(appearing_value_search()),
             PIECE(match(',')), PIECE(appearance_time_search()), PIECE(match(']')));
}

bool Parser::posit_search() {
  return normal(Rule::posit_search,
                PIECE(seq(PIECE(opt(PIECE(latest_marker()))), PIECE(opt(PIECE(posit_binding()))), PIECE(pattern_slots()),
                          PIECE(opt(PIECE(as_of_clause() || in_effect_clause()))), PIECE(opt(PIECE(via_clause()))))));
}

bool Parser::via_posit() {
  return normal(Rule::via_posit, PIECE(seq(PIECE(opt(PIECE(posit_binding()))), PIECE(pattern_slots()))));
}

bool Parser::effect_cut_operand() {
  return normal(Rule::effect_cut_operand, PIECE(parameter() || constant() || time() || query_variable()));
}

bool Parser::in_effect_clause() {
  return normal(Rule::in_effect_clause, PIECE(seq(PIECE(match_folded("in effect")), PIECE(effect_cut_operand()),
                                                  PIECE(match(',')), PIECE(effect_cut_operand()))));
}

bool Parser::via_clause() {
  return normal(Rule::via_clause, PIECE(seq(PIECE(match_folded("via")), PIECE(via_posit()))));
}

bool Parser::as_of_clause() {
  return normal(Rule::as_of_clause, PIECE(seq(PIECE(match("as of")),
                                              PIECE(parameter() || constant() || time() || query_variable()))));
}

// ---------------------------------------------------------------------------------------------
// Search statement and clauses

bool Parser::variable_reference() {
  return normal(Rule::variable_reference, PIECE(query_variable()));
}

bool Parser::distinct() {
  return leaf(Rule::distinct, PIECE(match_folded("distinct")));
}

bool Parser::return_clause() {
  return normal(Rule::return_clause, PIECE(seq(PIECE(match_folded("return")), PIECE(opt(PIECE(distinct()))),
                                               PIECE(comma_list(PIECE(variable_reference()))))));
}

bool Parser::search_clause() {
  return normal(Rule::search_clause,
                PIECE(seq(PIECE(match_folded("search")), PIECE(comma_list(PIECE(posit_search()))))));
}

bool Parser::union_clause() {
  return normal(Rule::union_clause, PIECE(seq(PIECE(match_folded("union")), PIECE(comma_list(PIECE(posit_search()))))));
}

bool Parser::not_exists_clause() {
  return normal(Rule::not_exists_clause, PIECE(seq(PIECE(match_folded("not exists")), PIECE(match('{')),
                                                   PIECE(comma_list(PIECE(posit_search()))), PIECE(match('}')))));
}

bool Parser::rhs_value() {
  return normal(Rule::rhs_value, PIECE(parameter() || constant() || time() || certainty() || decimal() || int_() ||
                                       string() || json()));
}

bool Parser::condition() {
  return normal(Rule::condition, PIECE(seq(PIECE(variable_reference()), PIECE(comparator()),
                                           PIECE(rhs_value() || variable_reference()))));
}

bool Parser::where_clause() {
  return normal(Rule::where_clause, PIECE(seq(PIECE(match_folded("where")), PIECE(condition()),
                                              PIECE(star(PIECE(seq(PIECE(match("and")), PIECE(condition()))))))));
}

bool Parser::limit_clause() {
  return normal(Rule::limit_clause, PIECE(seq(PIECE(match_folded("limit")), PIECE(int_()))));
}

bool Parser::direction() {
  return leaf(Rule::direction, PIECE(match_folded("asc") || match_folded("desc")));
}

bool Parser::order_item() {
  return normal(Rule::order_item, PIECE(seq(PIECE(variable_reference()), PIECE(opt(PIECE(direction()))))));
}

bool Parser::order_by_clause() {
  return normal(Rule::order_by_clause, PIECE(seq(PIECE(match_folded("order by")), PIECE(order_item()),
                                                 PIECE(star(PIECE(seq(PIECE(match(',')), PIECE(order_item()))))))));
}

bool Parser::or_add_clause() {
  return normal(Rule::or_add_clause,
                PIECE(seq(PIECE(match_folded("or add posit")), PIECE(comma_list(PIECE(posit_addition()))))));
}

bool Parser::search() {
  return normal(Rule::search,
                PIECE(seq(PIECE(search_clause()), PIECE(star(PIECE(union_clause()))),
                          PIECE(star(PIECE(not_exists_clause()))), PIECE(opt(PIECE(where_clause()))),
                          PIECE(opt(PIECE(return_clause()))), PIECE(opt(PIECE(order_by_clause()))),
                          PIECE(opt(PIECE(limit_clause()))), PIECE(opt(PIECE(or_add_clause()))), PIECE(match(';')))));
}

// ---------------------------------------------------------------------------------------------

bool Parser::run(Rule start) {
  switch (start) {
    case Rule::EOI: return eoi();
    case Rule::velquin: return velquin();
    case Rule::COMMENT: return comment();
    case Rule::WHITESPACE: return whitespace();
    case Rule::digit: return digit();
    case Rule::int_: return int_();
    case Rule::decimal: return decimal();
    case Rule::certainty: return certainty();
    case Rule::time: return time();
    case Rule::json_string: return json_string();
    case Rule::json_object: return json_object();
    case Rule::json_array: return json_array();
    case Rule::json: return json();
    case Rule::string: return string();
    case Rule::keyword: return keyword();
    case Rule::identifier: return identifier();
    case Rule::variable: return variable();
    case Rule::constant: return constant();
    case Rule::query_variable: return query_variable();
    case Rule::parameter: return parameter();
    case Rule::bare_role: return bare_role();
    case Rule::quoted_role: return quoted_role();
    case Rule::role: return role();
    case Rule::add_role: return add_role();
    case Rule::insert: return insert();
    case Rule::recall: return recall();
    case Rule::appearance: return appearance();
    case Rule::appearance_set: return appearance_set();
    case Rule::appearing_value: return appearing_value();
    case Rule::appearance_time: return appearance_time();
    case Rule::posit: return posit();
    case Rule::assertion_binding: return assertion_binding();
    case Rule::assertion_source: return assertion_source();
    case Rule::assertion_certainty: return assertion_certainty();
    case Rule::assertion_time: return assertion_time();
    case Rule::and_assert_clause: return and_assert_clause();
    case Rule::posit_addition: return posit_addition();
    case Rule::add_posit: return add_posit();
    case Rule::wildcard: return wildcard();
    case Rule::recall_union: return recall_union();
    case Rule::query_union: return query_union();
    case Rule::appearance_search: return appearance_search();
    case Rule::ellipsis: return ellipsis();
    case Rule::appearance_list: return appearance_list();
    case Rule::appearance_set_binding: return appearance_set_binding();
    case Rule::appearance_set_search: return appearance_set_search();
    case Rule::appearing_value_search: return appearing_value_search();
    case Rule::appearance_time_search: return appearance_time_search();
    case Rule::posit_binding: return posit_binding();
    case Rule::latest_marker: return latest_marker();
    case Rule::posit_search: return posit_search();
    case Rule::via_posit: return via_posit();
    case Rule::effect_cut_operand: return effect_cut_operand();
    case Rule::in_effect_clause: return in_effect_clause();
    case Rule::via_clause: return via_clause();
    case Rule::variable_reference: return variable_reference();
    case Rule::distinct: return distinct();
    case Rule::return_clause: return return_clause();
    case Rule::search_clause: return search_clause();
    case Rule::union_clause: return union_clause();
    case Rule::not_exists_clause: return not_exists_clause();
    case Rule::comparator: return comparator();
    case Rule::rhs_value: return rhs_value();
    case Rule::condition: return condition();
    case Rule::where_clause: return where_clause();
    case Rule::limit_clause: return limit_clause();
    case Rule::direction: return direction();
    case Rule::order_item: return order_item();
    case Rule::order_by_clause: return order_by_clause();
    case Rule::or_add_clause: return or_add_clause();
    case Rule::search: return search();
    case Rule::as_of_clause: return as_of_clause();
  }
  return false;
}

#undef PIECE

}  // namespace

std::expected<Pairs, ParsingError> VelquinParser::parse(Rule start, std::string_view input) {
  auto tree = std::make_shared<ParseTree>();
  tree->text.assign(input.data(), input.size());
  // Dense scripts make about one pair per three bytes; beyond the cap the vector grows by itself.
  tree->nodes.reserve(std::min<size_t>(input.size() / 3, size_t{1} << 24) + 4);
  Parser parser(tree->text, tree->nodes);
  if (parser.run(start)) {
    const size_t count = tree->nodes.size();
    return Pairs(std::move(tree), 0, count);
  }
  return std::unexpected(ParsingError::make(tree->text, parser.furthest(), parser.take_expected(),
                                            parser.take_unexpected()));
}

}  // namespace brackwater::velquin
