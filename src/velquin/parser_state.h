// The state and operators of one Velquin parse, shared by the files that define the rules.
//
// Internal to the parser: `Parser` holds the text, the position, the pair queue (nodes in pre-order,
// each finished when its rule succeeds), the atomicity, the lookahead state and the error record,
// and implements the grammar operators (sequence with the implicit skip, ordered choice, optional,
// repetition, negative lookahead) and the rule frame that makes pairs and keeps the error record.
// Every matching function either succeeds, having advanced the position and appended its pairs, or
// fails and leaves the position and the pairs exactly as it found them.
//
// The error record never steers the parse, and only a failed parse reads it. So a parse first runs
// without it (`Record::Off`), where a rule that cannot start at the current byte fails at once;
// only when that parse fails is the text parsed again with the record kept (`Record::On`).
#pragma once

#include <functional>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "construct/budget.h"
#include "literal/unicode.h"
#include "velquin/parse_tree.h"
#include "velquin/rule.h"

namespace brackwater::velquin::grammar {

inline constexpr size_t kNone = static_cast<size_t>(-1);
inline constexpr char32_t kInvalid = 0xFFFFFFFF;

enum class Atomicity : uint8_t { NonAtomic, Atomic, CompoundAtomic };
enum class Lookahead : uint8_t { None, Positive, Negative };

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

inline bool is_cased(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return c != kInvalid && literal::is_cased_letter(c);
}
inline bool is_upper(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z';
  return c != kInvalid && literal::is_uppercase_letter(c);
}
inline bool is_mark(char32_t c) { return c >= 0x80 && c != kInvalid && literal::is_mark(c); }
inline bool is_cased_or_mark(char32_t c) { return is_cased(c) || is_mark(c); }

enum class Record : uint8_t { Off, On };

class Parser {
 public:
  Parser(std::string_view text, NodeArray& nodes, Record record)
      : s_(text.data()), n_(text.size()), nodes_(nodes), record_(record == Record::On) {}

  // Counts every list item as work on `budget`, with the bytes moved over since the item before;
  // once its stop check fails every rule fails at once and `stopped()` is true.
  void set_budget(construct::Budget* budget) { budget_ = budget; }
  bool stopped() const { return stopped_; }

  bool run(Rule start);
  // Where `velquin` last tried a statement.
  size_t last_statement() const { return last_statement_; }
  // Runs what a failed `velquin` parse last did: a statement and EOI at `last_statement`.
  bool velquin_failure(size_t last_statement);

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

  // Without the record, a rule whose text must begin with `c` fails at once on another byte: it
  // would fail leaving nothing behind anyway.
  bool cannot_start_with(char c) const { return !record_ && (pos_ >= n_ || s_[pos_] != c); }

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

  // A rule's entry: where it began, the record sizes if the record is at that position, and
  // whether it makes a pair (no lookahead running and the caller not atomic).
  [[gnu::always_inline]] Entry begin_rule(Rule r) const {
    Entry e{pos_, 0, 0, nodes_.size(), r, lookahead_ == Lookahead::None && atomicity_ != Atomicity::Atomic};
    if (record_ && furthest_ == pos_) {
      e.expected_size = expected_.size();
      e.unexpected_size = unexpected_.size();
    }
    return e;
  }
  // Records the rule when it counts; `atomicity_` is the caller's again when this runs.
  [[gnu::always_inline]] void end_rule(const Entry& e, bool ok) {
    if (record_ && atomicity_ != Atomicity::Atomic && ok == (lookahead_ == Lookahead::Negative)) track(e);
  }
  // A rule whose node comes before the nodes of the rules it calls.
  [[gnu::always_inline]] Entry enter(Rule r) {
    const Entry e = begin_rule(r);
    if (e.make_pair) nodes_.open(pos_, r);
    return e;
  }
  [[gnu::always_inline]] bool leave(const Entry& e, bool ok) {
    end_rule(e, ok);
    if (!ok) {
      truncate(e.node);
    } else if (e.make_pair) {
      nodes_.close(e.node, pos_, nodes_.size());
    }
    return ok;
  }
  // A rule that calls no other rule that makes pairs: its node is appended only when it succeeds.
  [[gnu::always_inline]] bool leave_leaf(const Entry& e, bool ok) {
    end_rule(e, ok);
    if (ok && e.make_pair) nodes_.push(e.pos, pos_, e.node + 1, e.rule);
    return ok;
  }
  void track(const Entry& e);
  void truncate(size_t size) { nodes_.truncate(size); }

  template <class F>
  bool normal(Rule r, F&& body) {
    if (stopped_) return false;
    const Entry e = enter(r);
    return leave(e, body());
  }
  template <class F>
  bool leaf(Rule r, F&& body) {
    const Entry e = begin_rule(r);
    return leave_leaf(e, body());
  }
  template <class F>
  bool atomic_leaf(Rule r, F&& body) {
    const Entry e = begin_rule(r);
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
  bool compound_atomic(Rule r, F&& body) {
    const Entry e = enter(r);
    return leave(e, with_atomicity(Atomicity::CompoundAtomic, body));
  }

  // ---- Frame rules.
  bool velquin();
  bool statement();
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
  bool comma_list(F&& item) {
    return plus([&] { return !stop_asked() && seq(item, [&] { return opt([&] { return match(','); }); }); });
  }
  bool stop_asked() {
    if (budget_ != nullptr && !stopped_) {
      const size_t moved = pos_ > paced_pos_ ? pos_ - paced_pos_ : paced_pos_ - pos_;
      paced_pos_ = pos_;
      // Parsing makes a node every few bytes: a unit for every four bytes, and a few for the item.
      stopped_ = !budget_->work(8 + moved / 4);
    }
    return stopped_;
  }
  // The bracketed three slots shared by posit_search and via_posit.
  bool pattern_slots();

  const char* s_;
  size_t n_;
  size_t pos_ = 0;
  NodeArray& nodes_;
  Atomicity atomicity_ = Atomicity::NonAtomic;
  Lookahead lookahead_ = Lookahead::None;

  // Error record.
  const bool record_;
  construct::Budget* budget_ = nullptr;
  size_t paced_pos_ = 0;  // the position at the last count of work
  bool stopped_ = false;
  size_t furthest_ = 0;
  std::vector<Rule> expected_;
  std::vector<Rule> unexpected_;

  // The skip is a pure function of the position: remember the last one, and where no "*/" follows.
  size_t skip_from_ = kNone;
  size_t skip_to_ = 0;
  size_t no_close_from_ = kNone;

  std::string closers_;  // scratch stack of scan_nested
  size_t last_statement_ = 0;
};

}  // namespace brackwater::velquin::grammar
