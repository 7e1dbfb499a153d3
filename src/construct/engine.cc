// The Engine object: construction (memory, new store, replayed store) and its public operations.
#include "construct/engine.h"

#include <algorithm>
#include <new>
#include <span>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "construct/component_access.h"
#include "construct/engine_ops.h"
#include "construct/record_keys.h"
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

// The replayed Posits in log order, filed a chunk at a time with every component lock held once
// (the engine is not shared yet, so neither is visible: the model ends up as if each Posit had been
// added on its own).
class PositReplay {
 public:
  PositReplay(EngineState& state, HeldLocks& access) : state_(state), access_(access) {}

  Result<void> add(storage::ReplayedPosit& p, std::span<const storage::ReplayedMember> members) {
    members_.clear();
    for (const auto& [role_id, thing] : members) {
      auto role = role_by_id(role_id);
      if (!role) return fail(std::move(role.error()));
      identities_.push_back(thing);
      auto appearance = intern_appearance(access_, state_, *role, thing);
      if (!appearance) return fail(std::move(appearance.error()));
      members_.push_back(appearance->first);
    }
    auto set = intern_appearance_set(access_, state_, members_);
    if (!set) return fail(std::move(set.error()));
    identities_.push_back(p.identity);
    posits_.push_back(Posit{p.identity, set->first, std::move(p.value), p.time});
    hashes_.push_back(posit_key_hash(posits_.back()));
    if (posits_.size() == kChunk) return flush();
    return {};
  }

  Result<void> flush() {
    {
      BW_TAKE(pool, access_, state_.identities);
      for (const Identity id : identities_) pool->record(id);
    }
    identities_.clear();
    std::vector<Identity> expected;
    expected.reserve(posits_.size());
    for (const Posit& posit : posits_) expected.push_back(posit.identity);
    auto filed = index_new_posits(access_, state_, posits_, hashes_);
    if (!filed) return fail(std::move(filed.error()));
    for (size_t i = 0; i < expected.size(); ++i) {
      if ((*filed)[i]->identity != expected[i]) {
        return fail(EngineError::data_corruption("duplicate Posit survived logical replay"));
      }
    }
    posits_.clear();
    hashes_.clear();
    return {};
  }

 private:
  static constexpr size_t kChunk = 4096;

  Result<RoleRef> role_by_id(Identity id) {
    if (id < roles_.size() && roles_[id] != nullptr) return roles_[id];
    BW_TAKE(roles, access_, state_.roles);
    auto found = roles->find_by_id(id);
    if (!found) return fail(EngineError::data_corruption("missing replayed Role " + std::to_string(id)));
    if (id < 4096) {
      if (roles_.size() <= id) roles_.resize(id + 1, nullptr);
      roles_[id] = *found;
    }
    return *found;
  }

  EngineState& state_;
  HeldLocks& access_;
  std::vector<RoleRef> roles_;  // small Role identities already looked up
  std::vector<AppearanceRef> members_;
  std::vector<Identity> identities_;  // to record in the pool
  BlockVector<Posit> posits_;
  BlockVector<uint64_t> hashes_;
};

Result<void> replay_posits(EngineState& state, storage::ReplayedLog& log) {
  auto access = HeldLocks::take(state);
  if (!access) return fail(std::move(access.error()));
  PositReplay replay(state, *access);
  for (storage::ReplayedPosit& p : log.posits) {
    if (auto added = replay.add(p, log.members_of(p)); !added) return added;
  }
  return replay.flush();
}

Result<void> replay(EngineState& state, storage::ReplayedLog& log) {
  for (storage::ReplayedRole& r : log.roles) {
    if (auto recorded = record_identity(state, r.identity); !recorded) return recorded;
    auto registered = register_role(state, literal::to_nfc(r.name), r.identity, r.reserved);
    if (!registered) return fail(std::move(registered.error()));
    if (registered->second) return fail(EngineError::data_corruption("duplicate Role survived logical replay"));
  }
  if (auto posits = replay_posits(state, log); !posits) return posits;
  for (const BuiltinRole& b : kBuiltinRoles) {
    if (auto ensured = ensure_builtin_role(state, b.identity, b.name); !ensured) return ensured;
  }
  return {};
}

// The replayed log's buffers are many and short-lived, and the records went to block storage: once
// a large log is filed, free the buffers and hand the heap's free pages back to the system, so
// that an opened store keeps only what the engine holds.
void release_replayed_log(storage::ReplayedLog& log) {
  constexpr size_t kLargeLog = 65536;  // Posits
  const bool large = log.posits.size() >= kLargeLog;
  log = storage::ReplayedLog{};
#if defined(__GLIBC__)
  if (large) malloc_trim(0);
#else
  (void)large;
#endif
}

}  // namespace

Engine::Engine() = default;
Engine::~Engine() = default;

Result<std::shared_ptr<Engine>> Engine::open(std::optional<std::string> path) {
  std::unique_ptr<storage::Store> store;
  storage::ReplayedLog log;
  if (path) {
    auto opened = storage::Store::open(*path);
    if (!opened) return fail(std::move(opened.error()));
    store = std::move(opened->first);
    log = std::move(opened->second);
  }
  std::shared_ptr<Engine> engine(new Engine());
  engine->state_ = std::make_unique<EngineState>(std::move(store));
  EngineState& state = *engine->state_;

  if (state.has_store()) {
    if (log.roles.empty() && log.posits.empty() && !log.codec_registry_complete) {
      if (auto genesis = write_genesis(state); !genesis) return fail(std::move(genesis.error()));
    } else if (!log.codec_registry_complete) {
      return fail(EngineError::data_corruption("append-only store lacks the mandatory v1 codec registry"));
    } else {
      auto replayed = replay(state, log);
      if (!replayed) return fail(std::move(replayed.error()));
      release_replayed_log(log);
    }
  }

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
  BW_LOCK(roles, state_->roles);
  return roles->find_by_name(name);
}

Result<std::optional<RoleRef>> Engine::find_role_by_id(Identity id) {
  BW_LOCK(roles, state_->roles);
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
                                           const StopCheck& stop) {
  return construct::add_posits(*state_, PendingPositList(std::move(posits)), std::move(assertions), stop);
}

Result<AddPositsResult> Engine::add_pending_posits(PendingPositList posits, std::vector<PendingAssertion> assertions,
                                                   const StopCheck& stop) {
  return construct::add_posits(*state_, std::move(posits), std::move(assertions), stop);
}

PendingPositList::PendingPositList(std::vector<PendingPosit> posits) {
  for (PendingPosit& p : posits) push_back(std::move(p));
}

PendingPositList::PendingPositList(PendingPositList&& other) noexcept
    : chunks_(std::move(other.chunks_)), size_(std::exchange(other.size_, 0)) {
  other.chunks_.clear();
}

PendingPositList& PendingPositList::operator=(PendingPositList&& other) noexcept {
  if (this != &other) {
    clear();
    chunks_ = std::move(other.chunks_);
    size_ = std::exchange(other.size_, 0);
    other.chunks_.clear();
  }
  return *this;
}

void PendingPositList::push_back(PendingPosit posit) {
  if (size_ % kChunk == 0) {
    chunks_.push_back(static_cast<PendingPosit*>(allocate_block(kChunk * sizeof(PendingPosit))));
  }
  new (&chunks_.back()[size_ % kChunk]) PendingPosit(std::move(posit));
  ++size_;
}

void PendingPositList::consumed(size_t i) {
  if ((i + 1) % kChunk == 0) release_chunk(i / kChunk, kChunk);
}

void PendingPositList::release_chunk(size_t c, size_t n) {
  PendingPosit* chunk = std::exchange(chunks_[c], nullptr);
  if (chunk == nullptr) return;
  for (size_t i = 0; i < n; ++i) chunk[i].~PendingPosit();
  release_block(chunk, kChunk * sizeof(PendingPosit));
}

void PendingPositList::clear() {
  for (size_t c = 0; c < chunks_.size(); ++c) release_chunk(c, std::min(kChunk, size_ - c * kChunk));
  chunks_.clear();
  size_ = 0;
}

bool Engine::has_store() const { return state_->has_store(); }

EngineState& Engine::state() { return *state_; }

}  // namespace brackwater::construct
