// Random and mutated scripts: the parser never crashes or hangs, every failure is a well-formed
// parse error, and every success is a well-formed tree.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "velquin/parser.h"

namespace brackwater::velquin {
namespace {

const std::vector<std::string> kSeeds = {
    "add role a, `two words`, b;",
    "add posit +q [{(+p, r), (x, s),}, {\"k\": [1, {\"z\": \"}\"}]}, @NOW] and assert by +src with 80% at "
    "'2001-01-01', [{(p, r)}, 2.5, $t];",
    "search latest ?p = [?s = {(?x | ?y, name), (*, ?r), ...}, ?v, ?t] as of '2020-01-01' via ?a = "
    "[{(*, posit), (?w, ascertains)}, ?c, ?u] union [*, \"s\", *] not exists {[{...}, 5 , *]} "
    "where ?v >= 50% and ?t < @NOW return distinct ?x, ?v order by ?x desc, ?v limit 10 "
    "or add posit [{(+x, name)}, \"word\", @NOW];",
    "search [*, *, *] in effect $from, ?to /* c */ ;",
};

const std::vector<std::string> kTokens = {
    "add role", "add posit", "search", "union", "not exists", "where", "return", "distinct", "order by",
    "limit", "or add posit", "and assert", "by", "with", "at", "as of", "in effect", "via", "latest",
    "and", "asc", "desc", "[", "]", "{", "}", "(", ")", ",", ";", "|", "=", "==", "===", "?=", "<", ">=",
    "*", "...", "+", "-", "%", "?x", "?y", "$p", "@NOW", "@", "x", "role", "add", "1", "25", "1.5", "100%",
    "'2001-01-01'", "'", "\"s\"", "\"", "\\", "{\"k\": 1}", "`q r`", "`", " ", "  ", "\t", "\n", "\r",
    "/*", "*/", "/* c */", "//", "\xC3\xA9", "\xCC\x81", "\xE4\xB8\xAD", "\xC2\xA0", "\xFF", "\xC3",
};

void check_tree(const Pairs& pairs, size_t lo, size_t hi) {
  size_t previous_end = lo;
  for (Pair p : pairs) {
    ASSERT_LE(previous_end, p.start());
    ASSERT_LE(p.start(), p.end());
    ASSERT_LE(p.end(), hi);
    ASSERT_LT(static_cast<size_t>(p.rule()), kRuleCount);
    check_tree(p.children(), p.start(), p.end());
    previous_end = p.end();
  }
}

void check_parse(Rule rule, const std::string& text) {
  auto result = VelquinParser::parse(rule, text);
  if (result) {
    check_tree(*result, 0, text.size());
    if (rule == Rule::velquin) {
      Pair last = *result->first();
      for (Pair p : *result) last = p;
      EXPECT_EQ(last.rule(), Rule::EOI);
      EXPECT_EQ(last.start(), text.size());
    }
    return;
  }
  const ParsingError& e = result.error();
  ASSERT_LE(e.pos, text.size());
  if (rule == Rule::velquin) {
    ASSERT_FALSE(e.positives.empty() && e.negatives.empty()) << text;
  }
  for (size_t i = 1; i < e.positives.size(); ++i) ASSERT_LT(e.positives[i - 1], e.positives[i]);
  for (size_t i = 1; i < e.negatives.size(); ++i) ASSERT_LT(e.negatives[i - 1], e.negatives[i]);
  const std::string message = parse_message(e);
  size_t lines = 1;
  for (char c : e.to_text()) lines += c == '\n';
  // The shown line may itself hold no line feed: the layout has exactly six lines.
  ASSERT_EQ(lines, 6u) << text;
  ASSERT_EQ(message.rfind(e.to_text(), 0), 0u);
}

TEST(ParserFuzz, RandomTokenScripts) {
  std::mt19937_64 rng(20240601);
  for (int round = 0; round < 100000; ++round) {
    std::string script;
    const size_t count = rng() % 40;
    for (size_t i = 0; i < count; ++i) {
      script += kTokens[rng() % kTokens.size()];
      if (rng() % 3 == 0) script += ' ';
    }
    check_parse(Rule::velquin, script);
  }
}

TEST(ParserFuzz, MutatedScripts) {
  std::mt19937_64 rng(77);
  for (int round = 0; round < 100000; ++round) {
    std::string script = kSeeds[rng() % kSeeds.size()];
    const size_t edits = 1 + rng() % 4;
    for (size_t i = 0; i < edits && !script.empty(); ++i) {
      const size_t at = rng() % script.size();
      switch (rng() % 4) {
        case 0: script.erase(at, 1 + rng() % 3); break;
        case 1: script.insert(at, kTokens[rng() % kTokens.size()]); break;
        case 2: script[at] = static_cast<char>(rng() % 256); break;
        default: script.insert(at, script.substr(rng() % script.size(), rng() % 12)); break;
      }
    }
    check_parse(Rule::velquin, script);
  }
}

TEST(ParserFuzz, EveryStartRule) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    const size_t count = rng() % 12;
    for (size_t i = 0; i < count; ++i) text += kTokens[rng() % kTokens.size()];
    for (size_t r = 0; r < kRuleCount; ++r) check_parse(static_cast<Rule>(r), text);
  }
  for (const auto& seed : kSeeds) {
    EXPECT_TRUE(VelquinParser::parse(Rule::velquin, seed).has_value()) << seed;  // the mutations start valid
    for (size_t r = 0; r < kRuleCount; ++r) check_parse(static_cast<Rule>(r), seed);
  }
}

}  // namespace
}  // namespace brackwater::velquin
