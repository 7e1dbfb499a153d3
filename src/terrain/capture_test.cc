#include "terrain/capture.h"

#include <gtest/gtest.h>

#include "terrain/terrain.h"
#include "velquin/execute.h"

namespace brackwater::terrain {
namespace {

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = construct::Engine::open(std::nullopt);
    ASSERT_TRUE(opened);
    engine = std::move(*opened);
  }
  void run(std::string_view script) {
    auto r = velquin::execute_script(engine, script, {});
    ASSERT_TRUE(r) << r.error().display();
  }
  std::string outcome(const TerrainLimits& limits) {
    auto t = capture_terrain(*engine, limits);
    return t ? "ok" : t.error().display();
  }
  std::shared_ptr<construct::Engine> engine;
};

// The counts copied with the entries: test_terrain.py (the whole report of two databases).
TEST_F(CaptureTest, CopiesEntriesInPositOrderAndRefusesTooManyPositsBeforeCopying) {
  auto budget = TerrainLimits{}.validate();
  run("add role r; add posit [{(+a, r)}, \"x\", '2020'], [{(+b, r)}, \"y\", '2021'];");
  auto two = capture_snapshot(*engine, *budget);
  ASSERT_TRUE(two);
  ASSERT_EQ(two->entries.size(), 2u);
  EXPECT_LT(two->entries[0].posit, two->entries[1].posit);
  EXPECT_EQ(two->entries[1].time.display(), "2021");

  TerrainLimits limits;
  limits.posits_scanned = 2;
  EXPECT_EQ(outcome(limits), "ok");
  limits.posits_scanned = 1;
  EXPECT_EQ(outcome(limits), "Resource limit exceeded for posits scanned: maximum 1");
}

TEST_F(CaptureTest, GivesUpOnABusyEngineLockAtTheDeadlineOrACancel) {
  auto held = engine->database_lock().try_lock();
  ASSERT_TRUE(held && *held);
  TerrainLimits limits;
  limits.timeout = construct::Duration{0, 20'000'000};
  EXPECT_EQ(outcome(limits), "Execution timed out");
  limits.timeout.reset();
  limits.cancel = construct::make_cancel_flag();
  limits.cancel->store(true);
  EXPECT_EQ(capture_terrain(*engine, limits).error().kind(), construct::ErrorKind::Cancelled);
}

}  // namespace
}  // namespace brackwater::terrain
