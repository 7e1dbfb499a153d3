#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "construct/engine.h"
#include "construct/engine_ops.h"
#include "construct/engine_state.h"
#include "storage/store.h"
#include "storage/store_test_util.h"

namespace brackwater::construct {
namespace {

using literal::LiteralKind;
namespace fs = std::filesystem;

struct StoreEngine : ::testing::Test {
  storage::testing::TempDir tmp;
  const std::string dir = tmp.sub("db");

  std::shared_ptr<Engine> open() { return Engine::open(dir).value(); }
  uint64_t log_size() { return fs::file_size(fs::path(dir) / "log-0000000000000001.btl"); }
  static storage::Store& store_of(Engine& e) { return *(*e.state().store.lock())->store; }
};

// Everything the model holds, written out in a fixed order.
std::string dump(Engine& engine) {
  EngineState& s = engine.state();
  std::string out;
  for (RoleRef r : (*s.roles.lock())->roles_by_identity()) {
    out += "role " + std::to_string(r->identity) + " " + r->name + (r->reserved ? " reserved\n" : "\n");
  }
  auto registry = s.components.lock();
  (*s.posit_appearance_sets.lock())->for_each([&](Identity id, AppearanceSetRef set) {
    PositRef p = posit_by_identity(**registry, id);
    out += "posit " + std::to_string(id) + " " + format_appearance_set(*set) + " " + p->value.text + "/" +
           std::to_string(int(p->value.kind)) + " " + p->appearance_time.display() + "\n";
  });
  out += "count " + std::to_string((*registry)->posit_count);
  {
    auto pool = s.identities.lock();
    out += " pool " + std::to_string((*pool)->size()) + "/" + std::to_string((*pool)->last());
  }
  out += " appearances " + std::to_string((*s.appearances.lock())->size());
  out += " sets " + std::to_string((*s.appearance_sets.lock())->size());
  for (Identity role : {1, 2, 3, 6, 7}) {
    const IdentitySet* posits = (*s.role_posits.lock())->find(role);
    out += " r" + std::to_string(role) + "=" + std::to_string(posits ? posits->cardinality() : 0);
  }
  return out;
}

AppearanceSetRef set_of(Engine& e, std::vector<std::pair<RoleRef, Identity>> members) {
  std::vector<AppearanceRef> appearances;
  for (auto [r, thing] : members) appearances.push_back(e.intern_appearance(r, thing).value().first);
  return e.intern_appearance_set(appearances).value().first;
}

TEST_F(StoreEngine, GenesisThenReopenWritesNothing) {
  {
    auto engine = open();
    EXPECT_TRUE(engine->has_store());
    EXPECT_EQ(log_size(), 431u);  // header and the genesis batch
    EXPECT_EQ(engine->draw_identity().value(), 6u);
  }
  auto engine = open();
  EXPECT_EQ(log_size(), 431u);
  EXPECT_EQ((*engine->state().roles.lock())->size(), 5u);
  EXPECT_EQ(engine->draw_identity().value(), 6u);  // drawn, never persisted identities are issued again
}

TEST_F(StoreEngine, ReopenRebuildsTheSameModel) {
  std::string before;
  {
    auto engine = open();
    auto roles = engine->add_roles({{"name", false}, {"age", false}}).value();  // 6, 7
    const Identity alice = engine->draw_identity().value();                    // 8
    const Identity source = engine->draw_identity().value();                   // 9
    RoleRef thing = engine->find_role_by_id(kThingRoleId).value().value();
    AppearanceSetRef named = set_of(*engine, {{roles[0].role, alice}});
    AppearanceSetRef pair = set_of(*engine, {{roles[1].role, alice}, {thing, source}});
    auto added = engine->add_posits(
        {{{"\"Alice\"", LiteralKind::String}, named, TimeValue::of_date(2020, 5, 1)},
         {{"42", LiteralKind::Integer}, pair, TimeValue::bot()},
         {{"{\"a\": [1, 2]}", LiteralKind::Json}, pair, TimeValue::eot()}},
        {{{"75%", LiteralKind::Certainty}, TimeValue::of_year(2021), 1, source}});
    ASSERT_TRUE(added) << added.error().display();
    engine->draw_identity().value();  // a leaked identity above every persisted one
    before = dump(*engine);
  }
  auto engine = open();
  std::string after = dump(*engine);
  // A leaked identity above the largest persisted one is issued again after reopen; everything else
  // is the same.
  EXPECT_NE(before.find("pool 14/14"), std::string::npos) << before;
  EXPECT_NE(after.find("pool 13/13"), std::string::npos) << after;
  before.replace(before.find("pool 14/14"), 10, "pool 13/13");
  EXPECT_EQ(before, after);
  EXPECT_EQ(engine->draw_identity().value(), 14u);
}

TEST_F(StoreEngine, OneBatchPerCommandAndNoneWhenNothingIsNew) {
  auto engine = open();
  storage::Store& store = store_of(*engine);
  const uint64_t batches = store.batch_count();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  EXPECT_EQ(store.batch_count(), batches + 1);
  AppearanceSetRef set = set_of(*engine, {{r, 100}});
  std::vector<PendingPosit> twice = {{{"1", LiteralKind::Integer}, set, TimeValue::bot()},
                                     {{"1", LiteralKind::Integer}, set, TimeValue::bot()},
                                     {{"2", LiteralKind::Integer}, set, TimeValue::bot()}};
  ASSERT_TRUE(engine->add_posits(twice, {{{"5%", LiteralKind::Certainty}, TimeValue::bot(), 2, 100}}));
  EXPECT_EQ(store.batch_count(), batches + 2);
  ASSERT_TRUE(engine->add_posits(twice, {}));
  ASSERT_TRUE(engine->add_posits({}, {}));
  ASSERT_TRUE(engine->add_roles({{"r", false}, {"posit", false}}));
  EXPECT_EQ(store.batch_count(), batches + 2);
}

TEST_F(StoreEngine, FailedAppendFilesNothing) {
  auto engine = open();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  AppearanceSetRef set = set_of(*engine, {{r, 100}});
  store_of(*engine).set_fail_closed();
  auto failed = engine->add_posits({{{"1", LiteralKind::Integer}, set, TimeValue::bot()}}, {});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), ErrorKind::Persistence);
  EXPECT_EQ((*engine->state().components.lock())->posit_count, 0u);
  EXPECT_EQ((*engine->state().posit_appearance_sets.lock())->size(), 0u);
  ASSERT_FALSE(engine->add_roles({{"q", false}}));
  EXPECT_FALSE(engine->find_role_by_name("q").value().has_value());
}

TEST_F(StoreEngine, AStopBeforeTheAppendStoresAndFilesNothing) {
  auto engine = open();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  // Values of 1,000 bytes: 16 units of work each, so that the budget asks every 4,096 Posits.
  const std::string value = "\"" + std::string(998, 'x') + "\"";
  std::vector<PendingPosit> many;
  for (Identity thing = 100; thing < 10100; ++thing) {
    many.push_back({{value, LiteralKind::String}, set_of(*engine, {{r, thing}}), TimeValue::bot()});
  }
  const uint64_t length = log_size();
  // The budget asks at the first Posit interned and then every 4,096 Posits, through interning
  // (asks 1 to 3) and encoding (asks 4 and 5), and the append asks once more before (ask 6).
  for (int allowed : {1, 3, 5}) {
    int asked = 0;
    Budget budget([&]() -> Result<void> {
      if (++asked > allowed) return fail(EngineError::timed_out());
      return {};
    });
    auto failed = engine->add_posits(many, {}, &budget);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().kind(), ErrorKind::TimedOut);
    EXPECT_EQ(asked, allowed + 1);
    EXPECT_EQ(log_size(), length);
    EXPECT_EQ((*engine->state().components.lock())->posit_count, 0u);
  }
  int asked = 0;
  Budget counting([&]() -> Result<void> {
    ++asked;
    return {};
  });
  ASSERT_TRUE(engine->add_posits(many, {}, &counting));
  EXPECT_EQ(asked, 6);
  EXPECT_EQ((*engine->state().components.lock())->posit_count, 10000u);
}

TEST_F(StoreEngine, FailureAfterAppendClosesTheWriter) {
  auto engine = open();
  RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
  AppearanceSetRef set = set_of(*engine, {{r, 100}});
  engine->state().role_posits.poison_for_testing();
  auto failed = engine->add_posits({{{"1", LiteralKind::Integer}, set, TimeValue::bot()}}, {});
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), ErrorKind::LockPoisoned);
  EXPECT_TRUE(store_of(*engine).fail_closed());
  engine.reset();
  // The batch is durable: the Posit is back after reopening.
  engine = open();
  EXPECT_EQ((*engine->state().components.lock())->posit_count, 1u);
}

// Replay hands a large log over to the filing in chunks while it checks the rest: a damage near the
// end fails the open with the store's own error after much was filed, and leaves no engine behind.
TEST_F(StoreEngine, DamageLateInALargeLogFailsTheWholeOpen) {
  std::string before;
  {
    auto engine = open();
    RoleRef r = engine->add_roles({{"r", false}}).value()[0].role;
    for (int command = 0; command < 8; ++command) {
      std::vector<PendingPosit> posits;
      for (int i = 0; i < 10000; ++i) {
        const Identity thing = engine->draw_identity().value();
        posits.push_back({{std::to_string(command * 10000 + i), LiteralKind::Integer}, set_of(*engine, {{r, thing}}),
                          TimeValue::of_year(2000 + i % 7)});
      }
      ASSERT_TRUE(engine->add_posits(std::move(posits), {}));
    }
    before = dump(*engine);
  }
  ASSERT_GT(log_size(), uint64_t(4) << 20);  // read in windows
  const fs::path log = fs::path(dir) / "log-0000000000000001.btl";
  auto flip = [&](uint64_t at) {
    std::fstream f(log, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(at);
    const char c = static_cast<char>(f.get() ^ 0x20);
    f.seekp(at);
    f.put(c);
  };
  const uint64_t late = log_size() - 200;
  flip(late);
  auto store_error = [&] {
    auto opened = storage::Store::open(dir);
    return opened ? std::string("opened") : opened.error().display();
  };
  const std::string expected = store_error();
  ASSERT_NE(expected, "opened");
  auto failed = Engine::open(dir);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().display(), expected);
  EXPECT_EQ(store_error(), expected);  // nothing changed on disk, and the store is free again
  flip(late);
  EXPECT_EQ(dump(*open()), before);
}

}  // namespace
}  // namespace brackwater::construct
