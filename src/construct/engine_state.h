// The state of an engine: the engine-wide lock and its thirteen components, each behind its own
// poisoning mutex.
//
// Only the engine's own operations reach the components. Readers (engine_reads.h: what searches,
// the assertions in effect and the Terrain read) lock one component at a time, read through the
// component's const interface and release it; no two are held together, except that the Terrain's
// entry copy holds the posit-to-set and posit-to-time indexes together, posit interning takes
// `identities` while it holds `components`, and add posit's walk over a clause's combinations keeps
// the interning components it has used (interning_session.h). Every record handle read from a
// component stays valid for the engine's life. Writers are the engine's own operations, which the
// caller runs under the engine-wide lock.
#pragma once

#include <memory>

#include "construct/appearance_catalogs.h"
#include "construct/identity_pool.h"
#include "construct/poison_mutex.h"
#include "construct/posit_index.h"
#include "construct/posit_postings.h"
#include "construct/record_storage.h"
#include "construct/role_catalog.h"
#include "storage/store.h"

namespace brackwater::construct {

// The optional open store of a database in a directory (empty for a memory database).
struct StoreSlot {
  std::unique_ptr<storage::Store> store;
};

class EngineState {
 public:
  explicit EngineState(std::unique_ptr<storage::Store> store);
  ~EngineState();

  // The records themselves, outliving every component that points into them.
  RecordStorage records;

  // Declared in the order of the engine's fields; the store is closed explicitly first on
  // destruction, so its lock file is free as soon as the engine is gone.
  PoisonMutex<Unit> database_lock;
  PoisonMutex<IdentityPool> identities;
  PoisonMutex<RoleCatalog> roles;
  PoisonMutex<AppearanceCatalog> appearances;
  PoisonMutex<AppearanceSetCatalog> appearance_sets;
  PoisonMutex<ComponentRegistry> components;
  PoisonMutex<ThingAppearanceIndex> thing_appearances;
  PoisonMutex<RoleAppearanceIndex> role_appearances;
  PoisonMutex<AppearanceMembershipIndex> appearance_memberships;
  PoisonMutex<AppearanceSetPositIndex> appearance_set_posits;
  PoisonMutex<RolePositIndex> role_posits;
  PoisonMutex<PositAppearanceSetIndex> posit_appearance_sets;
  PoisonMutex<PositTimeIndex> posit_times;
  PoisonMutex<StoreSlot> store;

  bool has_store() const { return has_store_; }
  // Gives a state built without a store (while its store's log was replayed into it) that store.
  void attach_store(std::unique_ptr<storage::Store> s);

 private:
  bool has_store_;
};

}  // namespace brackwater::construct
