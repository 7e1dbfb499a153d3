#include "velquin/execute.h"

#include <algorithm>
#include <functional>

#include "construct/database_lock.h"
#include "literal/unicode.h"
#include "velquin/add_posit.h"
#include "velquin/exec_context.h"
#include "velquin/lower_literal.h"
#include "velquin/node_view.h"
#include "velquin/parameters.h"
#include "velquin/parser.h"
#include "velquin/search_command.h"
#include "velquin/search_limit.h"
#include "velquin/trace.h"

namespace brackwater::velquin {

using construct::Engine;
using construct::EngineError;
using construct::fail;
using construct::Result;

namespace {

// The trees of the scripts this thread ran last, most recent first: a script run again (an
// application repeating its searches) skips the parser. The parser is a pure function of the
// text and a tree is immutable and owns its copy of the text, so a tree serves any number of runs.
// Failed parses are not kept; neither are long scripts, which bounds the memory per thread.
class ParseCache {
 public:
  std::expected<Pairs, ParsingError> parse_script(std::string_view text, construct::Budget& budget) {
    // A long script is not kept, and its text outlives the run: its tree views the text rather than
    // copying it (the run may also give back a long statement's nodes as it consumes them), and its
    // parse stops when the script's stop condition holds.
    if (text.size() > kMaxText) return parse_borrowed(Rule::velquin, text, &budget);
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].tree()->text != text) continue;
      std::rotate(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(i),
                  entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
      return entries_.front();
    }
    auto pairs = parse(Rule::velquin, text);
    if (!pairs) return pairs;
    if (entries_.size() == kEntries) entries_.pop_back();
    entries_.insert(entries_.begin(), *pairs);
    return pairs;
  }

 private:
  static constexpr size_t kEntries = 16;
  static constexpr size_t kMaxText = 4096;
  std::vector<Pairs> entries_;
};

std::expected<Pairs, ParsingError> parse_script(std::string_view text, construct::Budget& budget) {
  thread_local ParseCache cache;
  return cache.parse_script(text, budget);
}

// State of one script run beside the context.
struct ScriptRun {
  Engine& engine;
  const ExecContext& ctx;
  std::shared_ptr<const ParseTree> tree;
  std::vector<Warning> warnings;
  literal::TimeValue now;
  ScriptVariables variables;
  std::vector<ResultSet> result_sets;
  ResultBytes result_bytes;  // what result_sets hold, and the response they make

  // A failed script's result sets may hold many rows: they go to the background releaser.
  ~ScriptRun() {
    for (ResultSet& set : result_sets) release_rows_later(set.rows);
  }

  Result<void> add_role(NodeView statement) {
    std::vector<construct::RoleRequest> requests;
    auto children = statement.children();
    auto it = children.begin();
    while (auto name = normalize_role_names_next(it, children.end())) {
      requests.push_back(construct::RoleRequest{std::move(*name), false});
    }
    std::vector<std::string> names;
    if (trace_enabled()) {
      for (const auto& r : requests) names.push_back(r.name);
    }
    auto added = engine.add_roles(std::move(requests));
    if (!added) return fail(std::move(added.error()));
    if (trace_enabled()) trace_role_events(names, *added);
    return {};
  }

  static void trace_role_events(const std::vector<std::string>& names, const std::vector<construct::RoleResult>& results) {
    size_t added = 0;
    for (size_t i = 0; i < names.size() && i < results.size(); ++i) {
      if (results[i].existed) {
        trace_event("role already existed", "add_role", {{"role", names[i]}, {"existed", "true"}});
      } else {
        ++added;
        trace_event("role added", "add_role", {{"role", names[i]}});
      }
    }
    if (added > 0) trace_event("roles batch added", "add_role_batch", {{"added", std::to_string(added)}});
  }

  Result<void> search(NodeView statement) {
    std::string text(literal::trim_white_space(statement.text()));
    BoundedRowSink sink(effective_limit(ctx.max_rows, statement_limit(statement)), &result_bytes);
    std::optional<std::vector<std::string>> columns;
    auto outcome = execute_search_command(engine, Pair(tree, statement.index()), variables, sink, columns, ctx);
    if (!outcome) return fail(std::move(outcome.error()));
    if (!outcome->yields_result_set) return {};
    ResultSet set;
    set.columns = columns ? std::move(*columns) : std::vector<std::string>{};
    set.row_count = sink.rows.size();
    set.rows = std::move(sink.rows);
    set.warnings = warnings;
    set.search = std::move(text);
    set.limited = sink.limited;
    if (auto r = result_bytes.charge_frame(set, result_sets.empty()); !r) {
      release_rows_later(set.rows);
      return r;
    }
    result_sets.push_back(std::move(set));
    return {};
  }

  Result<void> statement(NodeView pair, bool last) {
    switch (pair.rule()) {
      case Rule::search: return search(pair);
      case Rule::add_role: return add_role(pair);
      // A large `add posit` statement (a script of a million Posits) runs in about the memory of
      // the Posits it adds, because each stage gives back what the next no longer needs:
      //  - a long script is parsed in place, its tree viewing the text (parse_script), and the run,
      //    which owns the tree alone and never reads a statement's nodes again, gives the nodes of
      //    the clauses back as the statement consumes them (release_consumed_nodes, add_posit.cc);
      //  - the pending Posits wait in chunks that go back as interning reads them, a clause's value
      //    held once (PendingPositList, pending_posits.h);
      //  - new Posits are staged straight in the Posit storage, so filing them copies nothing
      //    (NewPositList, engine_ops.h);
      //  - the last statement of a script gives the script variables back before its Posits are
      //    filed and asks for no Posit handles when it binds nothing (StatementScope, add_posit.h).
      case Rule::add_posit:
        return execute_add_posit_command(engine, pair, variables, now, ctx,
                                         {.release_consumed = true, .last_statement = last});
      default: return {};
    }
  }
};

}  // namespace

Result<std::vector<ResultSet>> execute_script(std::shared_ptr<Engine> engine, std::string_view script,
                                              ExecuteOptions options) {
  std::optional<Deadline> deadline;
  if (options.timeout) {
    deadline = Deadline::after(*options.timeout);
    if (!deadline) return fail(EngineError::execution("execution timeout is too large"));
  }
  const literal::TimeValue now = options.now ? *options.now : literal::wall_clock_now();
  auto parameters = convert_parameters(options.parameters, now);
  if (!parameters) return fail(std::move(parameters.error()));
  CancelFlag cancel = options.cancel ? std::move(options.cancel) : make_cancel_flag();
  const ExecContext ctx{options.max_rows, {}, now, deadline, std::move(cancel), std::move(*parameters)};

  auto guard = construct::lock_database_cancellable(engine->database_lock(), *ctx.cancel, ctx.deadline);
  if (!guard) return fail(std::move(guard.error()));
  if (auto stop = ctx.check_stop(); !stop) return fail(std::move(stop.error()));

  auto pairs = parse_script(literal::trim_white_space(script), ctx.budget());
  if (!pairs && pairs.error().stopped) {
    if (auto stopped = ctx.check_stop(); !stopped) return fail(std::move(stopped.error()));
    return fail(EngineError::internal("script parse stopped without a stop condition"));
  }
  if (!pairs) return fail(EngineError::parse(parse_message(pairs.error())));
  ScriptRun run{*engine, ctx, pairs->tree(), ctx.warnings, now, {}, {}, ResultBytes(&ctx.budget())};
  if (auto r = run.result_bytes.charge_envelope(options.response_envelope); !r) return fail(std::move(r.error()));
  for (auto it = pairs->begin(); it != pairs->end();) {
    const size_t index = (*it).index();
    const bool last = ++it == pairs->end() || it.rule() == Rule::EOI;
    if (auto stop = ctx.check_stop(); !stop) return fail(std::move(stop.error()));
    if (auto r = run.statement(NodeView(run.tree.get(), index), last); !r) return fail(std::move(r.error()));
  }
  if (options.response_json_bytes != nullptr) *options.response_json_bytes = run.result_bytes.response().bytes;
  return std::move(run.result_sets);
}

}  // namespace brackwater::velquin
