// Literal validation, comparison and time-value operations.
#include <benchmark/benchmark.h>

#include <string>

#include "literal/compare.h"
#include "literal/literal.h"
#include "literal/time_value.h"

namespace {

using brackwater::literal::Literal;
using brackwater::literal::LiteralKind;
using brackwater::literal::TimeValue;

std::string padded(std::string_view head, size_t count, char fill, std::string_view tail) {
  std::string s(head);
  s.append(count, fill);
  s.append(tail);
  return s;
}

std::string token_of(LiteralKind kind, size_t length) {
  switch (kind) {
    case LiteralKind::String: {
      std::string s = "\"";
      while (s.size() + 1 < length) s += (s.size() % 64 == 0) ? "\\n" : "ab";
      s.resize(std::max<size_t>(length, 2) - 1);
      if (s.back() == '\\') s.back() = 'x';
      return s + "\"";
    }
    case LiteralKind::Integer: return padded("1", length > 1 ? length - 1 : 0, '7', "");
    case LiteralKind::Decimal: return padded("1.", length > 2 ? length - 2 : 1, '5', "");
    case LiteralKind::Json: {
      std::string s = "[";
      while (s.size() + 16 < length) s += "{\"k\":1.5e3},";
      return s + "null]";
    }
    case LiteralKind::Time: return padded("'", length > 2 ? length - 2 : 1, '2', "'");
    default: return "55%";
  }
}

void BM_FromToken(benchmark::State& state, LiteralKind kind) {
  const std::string token = token_of(kind, static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    auto literal = Literal::from_token(token, kind);
    benchmark::DoNotOptimize(literal);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * token.size()));
}
BENCHMARK_CAPTURE(BM_FromToken, String, LiteralKind::String)->RangeMultiplier(32)->Range(8, 1 << 20);
BENCHMARK_CAPTURE(BM_FromToken, Integer, LiteralKind::Integer)->RangeMultiplier(32)->Range(1, 1 << 20);
BENCHMARK_CAPTURE(BM_FromToken, Decimal, LiteralKind::Decimal)->RangeMultiplier(32)->Range(4, 1 << 20);
BENCHMARK_CAPTURE(BM_FromToken, Certainty, LiteralKind::Certainty)->Arg(3);
BENCHMARK_CAPTURE(BM_FromToken, Json, LiteralKind::Json)->RangeMultiplier(32)->Range(16, 1 << 20);
BENCHMARK_CAPTURE(BM_FromToken, Time, LiteralKind::Time)->RangeMultiplier(32)->Range(4, 1 << 20);

void BM_JsonDepth(benchmark::State& state) {
  const size_t depth = static_cast<size_t>(state.range(0));
  const std::string token = std::string(depth, '[') + std::string(depth, ']');
  for (auto _ : state) {
    auto literal = Literal::from_token(token, LiteralKind::Json);
    benchmark::DoNotOptimize(literal);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * token.size()));
}
BENCHMARK(BM_JsonDepth)->RangeMultiplier(100)->Range(10, 1'000'000)->Unit(benchmark::kMicrosecond);

struct Pair {
  Literal a, b;
};

void BM_CompareNominal(benchmark::State& state, Pair pair) {
  for (auto _ : state) {
    auto r = brackwater::literal::compare_nominal(pair.a, pair.b);
    benchmark::DoNotOptimize(r);
  }
}
void BM_CompareOrder(benchmark::State& state, Pair pair) {
  for (auto _ : state) {
    auto r = brackwater::literal::compare_order(pair.a, pair.b);
    benchmark::DoNotOptimize(r);
  }
}

Pair P(std::string a, LiteralKind ka, std::string b, LiteralKind kb) { return {{std::move(a), ka}, {std::move(b), kb}}; }
const std::string k40 = "1234567890123456789012345678901234567890";

BENCHMARK_CAPTURE(BM_CompareNominal, IntInt, P("12345", LiteralKind::Integer, "12346", LiteralKind::Integer));
BENCHMARK_CAPTURE(BM_CompareNominal, IntDec, P("2", LiteralKind::Integer, "2.00", LiteralKind::Decimal));
BENCHMARK_CAPTURE(BM_CompareNominal, BigIntBigInt, P(k40, LiteralKind::Integer, k40 + ".0", LiteralKind::Decimal));
BENCHMARK_CAPTURE(BM_CompareNominal, HugeExponent, P("1e999999999", LiteralKind::Decimal, "1", LiteralKind::Integer));
BENCHMARK_CAPTURE(BM_CompareNominal, Certainty, P("+5%", LiteralKind::Certainty, "005%", LiteralKind::Certainty));
BENCHMARK_CAPTURE(BM_CompareNominal, String, P("\"hello world\"", LiteralKind::String, "\"hello world\"", LiteralKind::String));
BENCHMARK_CAPTURE(BM_CompareNominal, StringEscaped,
                  P("\"caf\\u00e9 au lait\"", LiteralKind::String, "\"caf\xC3\xA9 au lait\"", LiteralKind::String));
BENCHMARK_CAPTURE(BM_CompareNominal, Json,
                  P("{\"a\":1.0,\"b\":[1,2,3],\"c\":\"x\"}", LiteralKind::Json, "{\"c\":\"x\",\"b\":[1,2,3],\"a\":1}", LiteralKind::Json));
BENCHMARK_CAPTURE(BM_CompareNominal, Time, P("'2020-05-01'", LiteralKind::Time, "'2020-05-01'", LiteralKind::Time));
BENCHMARK_CAPTURE(BM_CompareNominal, Unsupported, P("1", LiteralKind::Integer, "\"1\"", LiteralKind::String));
BENCHMARK_CAPTURE(BM_CompareOrder, IntInt, P("12345", LiteralKind::Integer, "12346", LiteralKind::Integer));
BENCHMARK_CAPTURE(BM_CompareOrder, DecDec, P("10.25", LiteralKind::Decimal, "9.999", LiteralKind::Decimal));
BENCHMARK_CAPTURE(BM_CompareOrder, BigIntBigInt, P(k40, LiteralKind::Integer, k40, LiteralKind::Integer));
BENCHMARK_CAPTURE(BM_CompareOrder, HugeExponent, P("1e999999999", LiteralKind::Decimal, "1", LiteralKind::Integer));
BENCHMARK_CAPTURE(BM_CompareOrder, Certainty, P("5%", LiteralKind::Certainty, "-5%", LiteralKind::Certainty));
BENCHMARK_CAPTURE(BM_CompareOrder, Unsupported, P("\"a\"", LiteralKind::String, "\"b\"", LiteralKind::String));

const TimeValue kDateTime = TimeValue::of_date_time(2020, 5, 17, 37230, 120'000'000);
const TimeValue kDate = TimeValue::of_date(2020, 5, 17);
const TimeValue kYear = TimeValue::of_year(2020);

void BM_TimeBounds(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kDateTime.bounds());
}
BENCHMARK(BM_TimeBounds);

void BM_TimeOverlaps(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TimeValue::overlaps(kYear, kDateTime));
}
BENCHMARK(BM_TimeOverlaps);

void BM_TimeIsAtOrBefore(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(TimeValue::is_at_or_before(kDate, kDateTime));
}
BENCHMARK(BM_TimeIsAtOrBefore);

void BM_TimeDisplay(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(kDateTime.display());
}
BENCHMARK(BM_TimeDisplay);

void BM_ParseDateTime(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(brackwater::literal::parse_datetime_formats("2020-05-17 10:20:30.120"));
}
BENCHMARK(BM_ParseDateTime);

void BM_ParseDate(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(brackwater::literal::parse_time_date("2020-05-17"));
}
BENCHMARK(BM_ParseDate);

}  // namespace

BENCHMARK_MAIN();
