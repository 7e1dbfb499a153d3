// Searches that meet an allocation failure at every point they allocate.
//
// This binary's operator new can be told to fail the n-th allocation of the calling thread. For
// every n until a search runs through without meeting it, the search either answers exactly or
// ends with "search ran out of memory"; either way its statement's budget holds nothing when it
// ends, and the next statement on the thread answers exactly without touching that budget, which
// is freed by then (under AddressSanitizer a write into it is reported).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "velquin/parser.h"
#include "velquin/script_test_util.h"
#include "velquin/search_command.h"

namespace {

// Allocations of this thread still to succeed before one fails; negative: none fails.
thread_local long allocations_left = -1;

void* allocate(size_t bytes) {
  if (allocations_left >= 0 && allocations_left-- == 0) throw std::bad_alloc();
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}

void* allocate_nothrow(size_t bytes) noexcept {
  try {
    return allocate(bytes);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

// Over-aligned forms are left to the runtime: their allocations and frees pair among themselves.
void* operator new(size_t bytes) { return allocate(bytes); }
void* operator new[](size_t bytes) { return allocate(bytes); }
void* operator new(size_t bytes, const std::nothrow_t&) noexcept { return allocate_nothrow(bytes); }
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept { return allocate_nothrow(bytes); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace brackwater::velquin {
namespace {

class AllocationFailureTest : public testing::MemoryScriptTest {
 protected:
  // The first ten rows of `script` (one search statement) as "cell,cell;...", or the error's display. With
  // `fail_at`, the allocation of that number (from 0) fails; `reached` tells whether it came.
  std::string search(const std::string& script, long fail_at = -1, bool* reached = nullptr) {
    auto pairs = parse(Rule::velquin, script);
    EXPECT_TRUE(pairs);
    auto ctx = std::make_unique<ExecContext>(std::nullopt, std::vector<Warning>{}, testing::kScriptNow, std::nullopt,
                                             make_cancel_flag(), ParameterMap{});
    ScriptVariables variables;
    auto sink = std::make_unique<BoundedRowSink>(10);
    std::optional<std::vector<std::string>> columns;
    allocations_left = fail_at;
    auto r = execute_search_command(*engine, Pair(pairs->tree(), (*pairs->begin()).index()), variables, *sink,
                                    columns, *ctx);
    if (reached != nullptr) *reached = fail_at >= 0 && allocations_left < 0;
    allocations_left = -1;
    EXPECT_EQ(ctx->budget().held(), 0u) << script << " failing allocation " << fail_at;
    std::string out;
    if (!r) {
      out = r.error().display();
    } else {
      for (const ResultRow& row : sink->rows) {
        for (size_t i = 0; i < row.size(); ++i) out += (i ? "," : "") + row[i].text;
        out += ";";
      }
    }
    return out;
  }

  // Fails each allocation of `script` in turn; returns how many failures it met.
  int fail_every_allocation(const std::string& script) {
    const std::string expected = search(script);
    EXPECT_EQ(expected.find("error"), std::string::npos) << expected;
    int met = 0;
    for (long n = 0;; ++n) {
      bool reached = false;
      const std::string got = search(script, n, &reached);
      if (!reached) {
        EXPECT_EQ(got, expected) << script;
        break;
      }
      ++met;
      if (got != expected) {
        EXPECT_EQ(got, "Execution error: search ran out of memory") << script << " at " << n;
      }
      EXPECT_EQ(search(script), expected) << script << " after failing allocation " << n;
    }
    return met;
  }
};

TEST_F(AllocationFailureTest, NoChargeOutlivesItsStatement) {
  std::string data = "add role name, q";
  std::string members;
  for (int i = 0; i < 12; ++i) {
    data += ", r" + std::to_string(i);
    members += (i ? ", " : "") + std::string("(+m") + std::to_string(i) + ", r" + std::to_string(i) + ")";
  }
  data += "; add posit [{" + members + "}, 1, '2020'];";
  data += "add posit +z [{(+o, q)}, 1, '2020'] and assert by +s1 with 80% at '2021';"
          "add posit [{(z, posit), (+s2, ascertains)}, 60%, '2021'];"
          "add posit [{(+a, name)}, \"Ann\", '2020'], [{(+b, name)}, \"Bob\", '2021'], [{(+c, name)}, \"Cy\", '2020'];";
  ASSERT_EQ(outcome(data), "ok");
  // Set matching whose index of 11,880 rows grows under the statement's budget past the size the
  // thread keeps, the in-effect branch with its via pattern (tables the thread keeps), and
  // distinct, order and not-exists structures.
  const std::string scripts[] = {
      "search [{(?w, *), (?x, *), (?y, *), (?z, *), ...}, *, *] return ?x;",
      "search [{(?t, q)}, ?v, *] in effect '2022', '2022' via [{(?p, posit), (?s, ascertains)}, ?c, *] "
      "return ?t, ?s, ?c;",
      "search [{(?t, name)}, ?n, ?w] not exists {[{(?t, name)}, \"Bob\", *]} return distinct ?w, ?n "
      "order by ?w desc, ?n;",
  };
  for (const std::string& script : scripts) EXPECT_GT(fail_every_allocation(script), 0) << script;
}

}  // namespace
}  // namespace brackwater::velquin
