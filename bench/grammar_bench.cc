// Parse throughput of Velquin scripts: MB/s and pairs per second on ordinary scripts, and the worst
// cases (long comments, deep nesting, unterminated tokens, errors at the end of a large script).
#include <benchmark/benchmark.h>

#include <string>

#include "velquin/parser.h"

using brackwater::velquin::Rule;
using brackwater::velquin::VelquinParser;

namespace {

std::string posit(size_t i) {
  std::string n = std::to_string(i);
  return "[{(+t" + n + ", name), (+u" + n + ", `full name`)}, \"value " + n + "\", '2001-01-" +
         std::to_string(1 + i % 28) + "']";
}

std::string many_statements() {
  std::string s;
  for (size_t i = 0; i < 10'000; ++i) s += "add posit " + posit(i) + ";\n";
  return s;
}

std::string one_big_statement() {
  std::string s = "add posit ";
  for (size_t i = 0; i < 100'000; ++i) s += posit(i) + ",\n";
  return s + ";";
}

std::string big_search() {
  std::string s = "search ";
  for (size_t i = 0; i < 1'000; ++i) {
    std::string n = std::to_string(i);
    s += "latest ?p" + n + " = [{(?x" + n + ", name), (?y, ?r" + n + "), ...}, ?v" + n + ", *] as of @NOW,\n";
  }
  s += "where ?v0 > 1";
  for (size_t i = 1; i < 1'000; ++i) s += " and ?v" + std::to_string(i) + " <= 10.5";
  s += " return ?x0, ?v0 order by ?x0";
  for (size_t i = 1; i < 1'000; ++i) s += ", ?x" + std::to_string(i) + " desc";
  return s + " limit 100;";
}

void run(benchmark::State& state, const std::string& script, bool expect_ok) {
  size_t nodes = 0;
  for (auto _ : state) {
    auto result = VelquinParser::parse(Rule::velquin, script);
    if (result.has_value() != expect_ok) state.SkipWithError("unexpected parse outcome");
    if (result) nodes = result->tree()->nodes.size();
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
  state.counters["pairs"] = static_cast<double>(nodes);
  state.counters["pairs/s"] =
      benchmark::Counter(static_cast<double>(nodes) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_AddPositStatements(benchmark::State& state) {
  static const std::string script = many_statements();
  run(state, script, true);
}
BENCHMARK(BM_AddPositStatements)->Unit(benchmark::kMillisecond);

void BM_OneAddPositManyPosits(benchmark::State& state) {
  static const std::string script = one_big_statement();
  run(state, script, true);
}
BENCHMARK(BM_OneAddPositManyPosits)->Unit(benchmark::kMillisecond);

void BM_SearchManyPatterns(benchmark::State& state) {
  static const std::string script = big_search();
  run(state, script, true);
}
BENCHMARK(BM_SearchManyPatterns)->Unit(benchmark::kMillisecond);

void BM_LongCommentBetweenClauses(benchmark::State& state) {
  static const std::string script = "search [*, *, *] /*" + std::string(1 << 20, 'c') + "*/ return ?x;";
  run(state, script, true);
}
BENCHMARK(BM_LongCommentBetweenClauses)->Unit(benchmark::kMillisecond);

void BM_UnterminatedCommentAtEnd(benchmark::State& state) {
  static const std::string script = "search [*, *, *] /*" + std::string(1 << 20, 'c');
  run(state, script, false);
}
BENCHMARK(BM_UnterminatedCommentAtEnd)->Unit(benchmark::kMillisecond);

void BM_NestedJsonBalanced(benchmark::State& state) {
  static const std::string script =
      "add posit [{(+p, r)}, " + std::string(1'000'000, '{') + std::string(1'000'000, '}') + ", @NOW];";
  run(state, script, true);
}
BENCHMARK(BM_NestedJsonBalanced)->Unit(benchmark::kMillisecond);

void BM_NestedJsonUnterminated(benchmark::State& state) {
  static const std::string script = "add posit [{(+p, r)}, " + std::string(1'000'000, '{') + ", @NOW];";
  run(state, script, false);
}
BENCHMARK(BM_NestedJsonUnterminated)->Unit(benchmark::kMillisecond);

void BM_UnterminatedString(benchmark::State& state) {
  static const std::string script = "add posit [{(+p, r)}, \"" + std::string(1 << 20, 's') + ", @NOW];";
  run(state, script, false);
}
BENCHMARK(BM_UnterminatedString)->Unit(benchmark::kMillisecond);

// About 1 MB of statements that all parse, then a failing one: the error path at the end.
std::string failing_at_end(std::string_view separator) {
  std::string s;
  while (s.size() < (1 << 20)) s.append("add role a, b, c;").append(separator);
  return s + "foo;";
}

void run_error(benchmark::State& state, const std::string& script) {
  for (auto _ : state) {
    auto result = VelquinParser::parse(Rule::velquin, script);
    benchmark::DoNotOptimize(parse_message(result.error()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * script.size()));
}

void BM_ErrorAtEndOneLine(benchmark::State& state) {
  static const std::string script = failing_at_end(" ");
  run_error(state, script);
}
BENCHMARK(BM_ErrorAtEndOneLine)->Unit(benchmark::kMillisecond);

void BM_ErrorAtEndManyLines(benchmark::State& state) {
  static const std::string script = failing_at_end("\n");
  run_error(state, script);
}
BENCHMARK(BM_ErrorAtEndManyLines)->Unit(benchmark::kMillisecond);

void BM_SingleStatement(benchmark::State& state) {
  static const std::string script = "add posit " + posit(7) + " and assert by s with 90% at @NOW;";
  run(state, script, true);
}
BENCHMARK(BM_SingleStatement);

}  // namespace

BENCHMARK_MAIN();
