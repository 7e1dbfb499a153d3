#include "velquin/query/compile_cache.h"

#include <algorithm>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "velquin/lower_literal.h"
#include "velquin/query/compile.h"

namespace brackwater::velquin::query {

using construct::fail;
using construct::Result;

namespace {

constexpr size_t kEntries = 16;
constexpr size_t kMaxText = 4096;  // the script parse cache keeps no longer scripts

// Every TimeValue and Literal of the query that lowering can take from the resolved now, in a fixed
// order, with whether it belongs to a via pattern (those are only read).
template <class Query, class F>
void for_each_time_site(Query& query, F&& f) {
  auto pattern = [&f](auto& self, auto& p, bool in_via) -> void {
    if (auto* literal = std::get_if<Literal>(&p.value)) f(*literal, in_via);
    if (auto* time = std::get_if<TimeValue>(&p.time)) f(*time, in_via);
    if (p.as_of) {
      if (auto* time = std::get_if<TimeValue>(&*p.as_of)) f(*time, in_via);
    }
    if (p.in_effect) {
      if (auto* time = std::get_if<TimeValue>(&p.in_effect->assertion_cutoff)) f(*time, in_via);
      if (auto* time = std::get_if<TimeValue>(&p.in_effect->appearance_cutoff)) f(*time, in_via);
      if (p.in_effect->via) self(self, *p.in_effect->via, true);
    }
  };
  for (auto& group : query.groups) {
    for (auto& p : group) pattern(pattern, p, false);
  }
  for (auto& group : query.not_exists_groups) {
    for (auto& p : group) pattern(pattern, p, false);
  }
  for (auto& predicate : query.predicates) {
    if (auto* literal = std::get_if<Literal>(&predicate.right)) f(*literal, false);
    if (auto* time = std::get_if<TimeValue>(&predicate.right)) f(*time, false);
  }
}

using SiteValue = std::variant<const TimeValue*, const Literal*>;

struct Site {
  SiteValue value;
  bool in_via;
};

std::vector<Site> time_sites(const SearchQuery& query) {
  std::vector<Site> sites;
  for_each_time_site(query, [&](const auto& value, bool in_via) { sites.push_back(Site{SiteValue(&value), in_via}); });
  return sites;
}

bool same_value(const SiteValue& a, const SiteValue& b) {
  if (a.index() != b.index()) return false;
  if (auto* time = std::get_if<const TimeValue*>(&a)) return (*time)->identical(**std::get_if<const TimeValue*>(&b));
  const Literal& x = *std::get<const Literal*>(a);
  const Literal& y = *std::get<const Literal*>(b);
  return x.kind == y.kind && x.text == y.text;
}

// The positions (in for_each_time_site order) of the values that differ between two compilations
// of one statement against different nows, or nothing when they cannot be told apart safely.
std::optional<std::vector<uint32_t>> now_positions(const SearchQuery& a, const SearchQuery& b) {
  const std::vector<Site> x = time_sites(a);
  const std::vector<Site> y = time_sites(b);
  if (x.size() != y.size()) return std::nullopt;
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < x.size(); ++i) {
    if (x[i].in_via != y[i].in_via) return std::nullopt;
    if (same_value(x[i].value, y[i].value)) continue;
    if (x[i].in_via) return std::nullopt;  // via patterns are shared read-only: not rewritten
    out.push_back(i);
  }
  return out;
}

// A now that no resolved now is identical to.
TimeValue other_now(const TimeValue& now) {
  const TimeValue a = TimeValue::of_year(1);
  return now.identical(a) ? TimeValue::of_year(2) : a;
}

bool names_parameter(const Pair& search) {
  const ParseTree& tree = *search.tree();
  const size_t end = tree.nodes.end_index(search.index());
  for (size_t i = search.index() + 1; i < end; ++i) {
    if (tree.nodes.rule(i) == Rule::parameter) return true;
  }
  return false;
}

struct Entry {
  std::shared_ptr<const ParseTree> tree;  // held, so that its address names no other tree meanwhile
  size_t index = 0;
  std::optional<CompiledSearch> search;  // from the second time the statement is met
  std::vector<uint32_t> now_positions;
  bool refused = false;  // the now lands in a via pattern: compiled every time
};

class CompileCache {
 public:
  Result<const CompiledSearch*> get(const Pair& search, const ExecContext& ctx, std::optional<CompiledSearch>& own) {
    if (search.tree()->text.size() > kMaxText || names_parameter(search)) return compile_into(search, ctx, own);
    size_t i = 0;
    while (i < entries_.size() && (entries_[i]->tree != search.tree() || entries_[i]->index != search.index())) ++i;
    if (i == entries_.size()) {
      // First met: only noted, so that statements met once cost one compilation.
      if (entries_.size() == kEntries) entries_.pop_back();
      entries_.insert(entries_.begin(), std::make_unique<Entry>(Entry{search.tree(), search.index(), {}, {}, false}));
      return compile_into(search, ctx, own);
    }
    std::rotate(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(i),
                entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    Entry& e = *entries_.front();
    if (e.refused) return compile_into(search, ctx, own);
    if (e.search) {
      if (auto stop = ctx.check_stop(); !stop) return fail(std::move(stop.error()));
      if (set_now(e, ctx.now)) return &*e.search;
      e.search.reset();
      return compile_into(search, ctx, own);
    }
    auto compiled = compile_search(search, ctx);
    if (!compiled) return fail(std::move(compiled.error()));
    // Once more against another now, to find where the now landed. This compilation cannot fail
    // but by a stop check, which the caller's own compilation has passed: then nothing is kept.
    const ExecContext other{ctx.max_rows, {}, other_now(ctx.now), ctx.deadline, ctx.cancel, {}};
    auto probe = compile_search(search, other);
    std::optional<std::vector<uint32_t>> positions;
    if (probe) positions = now_positions(compiled->query, probe->query);
    if (!positions) {
      e.refused = probe.has_value();
      own = std::move(*compiled);
      return &*own;
    }
    e.search = std::move(*compiled);
    e.now_positions = std::move(*positions);
    return &*e.search;
  }

 private:
  static Result<const CompiledSearch*> compile_into(const Pair& search, const ExecContext& ctx,
                                                    std::optional<CompiledSearch>& own) {
    auto compiled = compile_search(search, ctx);
    if (!compiled) return fail(std::move(compiled.error()));
    own = std::move(*compiled);
    return &*own;
  }

  // Writes `now` where the kept compilation took the resolved now; false when it cannot.
  static bool set_now(Entry& e, const TimeValue& now) {
    if (e.now_positions.empty()) return true;
    std::optional<Literal> now_literal;
    uint32_t position = 0;
    size_t next = 0;
    bool ok = true;
    for_each_time_site(e.search->query, [&](auto& value, bool) {
      if (next == e.now_positions.size() || position++ != e.now_positions[next]) return;
      ++next;
      using Value = std::remove_reference_t<decltype(value)>;
      if constexpr (std::is_const_v<Value>) {
        ok = false;  // a via pattern's: never recorded
      } else if constexpr (std::is_same_v<Value, TimeValue>) {
        value = now;
      } else {
        if (!now_literal) {
          auto lowered = lower_literal(Rule::constant, "@NOW", now);
          if (!lowered) {
            ok = false;
            return;
          }
          now_literal = std::move(*lowered);
        }
        value = *now_literal;
      }
    });
    return ok && next == e.now_positions.size();
  }

  std::vector<std::unique_ptr<Entry>> entries_;  // most recent first
};

}  // namespace

Result<const CompiledSearch*> compile_search_cached(const Pair& search, const ExecContext& ctx,
                                                    std::optional<CompiledSearch>& own) {
  thread_local CompileCache cache;
  return cache.get(search, ctx, own);
}

}  // namespace brackwater::velquin::query
