// The Engine object: construction (memory, new store, replayed store) and its public operations.
#include "construct/engine.h"

#include <optional>

#include "construct/engine_ops.h"
#include "construct/replay_filing.h"
#include "literal/unicode.h"
#include "storage/store.h"

namespace brackwater::construct {

EngineState::EngineState(std::unique_ptr<storage::Store> s) : store(StoreSlot{std::move(s)}) {
  has_store_ = (*store.lock())->store != nullptr;
  (*appearances.lock())->attach(&records);
  (*appearance_sets.lock())->attach(&records);
  (*components.lock())->attach(&records);
  (*appearance_memberships.lock())->attach(&records);
  (*appearance_set_posits.lock())->attach(&records);
  (*posit_appearance_sets.lock())->attach(&records);
  (*posit_times.lock())->attach(&records);
}

void EngineState::attach_store(std::unique_ptr<storage::Store> s) {
  (*store.lock())->store = std::move(s);
  has_store_ = true;
}

EngineState::~EngineState() {
  // Close the store (and release its lock file) before the in-memory model is torn down.
  auto guard = store.lock();
  if (guard) (*guard)->store.reset();
}

namespace {

// A new store: the built-in Roles and the codec registry as one durable batch, then the Roles in memory.
Result<void> write_genesis(EngineState& state) {
  std::vector<Role> builtins;
  for (const BuiltinRole& b : kBuiltinRoles) builtins.push_back(Role{literal::to_nfc(b.name), b.identity, true});
  std::vector<storage::PendingRecord> records;
  for (const Role& role : builtins) records.push_back(storage::encode_role_payload(role));
  for (uint16_t codec = 0; codec < 3; ++codec) records.push_back(storage::encode_codec_payload(codec));
  {
    BW_LOCK(slot, state.store);
    if (!slot->store) return fail(EngineError::internal("persistent store is absent"));
    auto written = slot->store->append_batch(std::move(records));
    if (!written) return fail(std::move(written.error()));
  }
  for (Role& role : builtins) {
    if (auto recorded = record_identity(state, role.identity); !recorded) return recorded;
    auto registered = register_role(state, std::move(role.name), role.identity, role.reserved);
    if (!registered) return fail(std::move(registered.error()));
  }
  return {};
}

}  // namespace

Engine::Engine() = default;
Engine::~Engine() = default;

Result<std::shared_ptr<Engine>> Engine::open(std::optional<std::string> path) {
  std::shared_ptr<Engine> engine(new Engine());
  if (!path) {
    engine->state_ = std::make_unique<EngineState>(nullptr);
  } else {
    auto replayed = replay_store(*path);
    if (!replayed) return fail(std::move(replayed.error()));
    engine->state_ = std::move(replayed->state);
    EngineState& state = *engine->state_;
    state.attach_store(std::move(replayed->store));
    const storage::ReplayedLog& log = replayed->log;
    if (log.roles.empty() && log.posit_count == 0 && !log.codec_registry_complete) {
      if (auto genesis = write_genesis(state); !genesis) return fail(std::move(genesis.error()));
    } else if (!log.codec_registry_complete) {
      return fail(EngineError::data_corruption("append-only store lacks the mandatory v1 codec registry"));
    } else {
      for (const BuiltinRole& b : kBuiltinRoles) {
        if (auto ensured = ensure_builtin_role(state, b.identity, b.name); !ensured) {
          return fail(std::move(ensured.error()));
        }
      }
    }
  }
  EngineState& state = *engine->state_;

  bool catalog_empty;
  {
    BW_LOCK(roles, state.roles);
    catalog_empty = roles->empty();
  }
  if (catalog_empty) {
    for (const BuiltinRole& b : kBuiltinRoles) {
      if (auto ensured = ensure_builtin_role(state, b.identity, b.name); !ensured) {
        return fail(std::move(ensured.error()));
      }
    }
  }
  return engine;
}

PoisonMutex<Unit>& Engine::database_lock() { return state_->database_lock; }

Result<Identity> Engine::draw_identity() { return construct::draw_identity(*state_); }

Result<std::optional<RoleRef>> Engine::find_role_by_name(std::string_view name) {
  BW_READ(roles, state_->roles);
  return roles->find_by_name(name);
}

Result<std::optional<RoleRef>> Engine::find_role_by_id(Identity id) {
  BW_READ(roles, state_->roles);
  return roles->find_by_id(id);
}

Result<std::vector<RoleResult>> Engine::add_roles(std::vector<RoleRequest> requests) {
  return construct::add_roles(*state_, std::move(requests));
}

Result<std::pair<AppearanceRef, bool>> Engine::intern_appearance(RoleRef role, Identity thing) {
  return construct::intern_appearance(*state_, role, thing);
}

Result<std::pair<AppearanceSetRef, bool>> Engine::intern_appearance_set(std::vector<AppearanceRef> members) {
  return construct::intern_appearance_set(*state_, std::move(members));
}

Result<AddPositsResult> Engine::add_posits(std::vector<PendingPosit> posits, std::vector<PendingAssertion> assertions,
                                           Budget* budget) {
  return construct::add_posits(*state_, PendingPositList(std::move(posits)), std::move(assertions), budget);
}

Result<AddPositsResult> Engine::add_pending_posits(PendingPositList posits, std::vector<PendingAssertion> assertions,
                                                   Budget* budget, bool handles) {
  return construct::add_posits(*state_, std::move(posits), std::move(assertions), budget, handles);
}

bool Engine::has_store() const { return state_->has_store(); }

EngineState& Engine::state() { return *state_; }

}  // namespace brackwater::construct
