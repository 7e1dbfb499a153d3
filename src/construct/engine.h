// The engine: the database object.
//
// It holds one engine-wide lock (taken only by polling, for a whole script or Terrain capture), the
// identity pool, the Role catalog, the intern catalogs and indexes of the posit model, and for a
// database in a directory the open store. Each component sits behind its own poisoning mutex; inside
// the engine-wide lock component locks are taken one at a time (posit interning alone takes the
// identity pool while it holds the component registry). Content only grows. New records are
// persisted as one committed batch per command before they are indexed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "construct/block_storage.h"
#include "construct/budget.h"
#include "construct/error.h"
#include "construct/identity.h"
#include "construct/pending_posits.h"
#include "construct/poison_mutex.h"
#include "construct/records.h"
#include "literal/literal.h"
#include "literal/time_value.h"

namespace brackwater::construct {

// Built-in Roles: identities 1 to 5, all reserved.
inline constexpr Identity kPositRoleId = 1;      // "posit"
inline constexpr Identity kAscertainsRoleId = 2;  // "ascertains"
inline constexpr Identity kThingRoleId = 3;      // "thing"
inline constexpr Identity kClassRoleId = 4;      // "class"
inline constexpr Identity kSubclassRoleId = 5;   // "subclass"


struct RoleRequest {
  std::string name;  // as declared; normalised to NFC by add_roles
  bool reserved = false;
};

struct RoleResult {
  RoleRef role = nullptr;
  bool existed = false;
};

struct AddPositsResult {
  BlockVector<PositRef> posits;      // in the order of the pending Posits
  BlockVector<PositRef> assertions;  // in the order of the pending assertions
};

class EngineState;  // the components (construct/engine_state.h)

class Engine {
 public:
  // No path: a memory database. A path: a database over that store directory, created when new.
  static Result<std::shared_ptr<Engine>> open(std::optional<std::string> path);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // The engine-wide lock. Script execution and the Terrain capture take it by polling try_lock().
  PoisonMutex<Unit>& database_lock();

  // Draws a new identity (last + 1). Fails with `Internal` "identity pool is exhausted" at the top.
  Result<Identity> draw_identity();

  // Role lookups; the name is normalised to NFC first.
  Result<std::optional<RoleRef>> find_role_by_name(std::string_view name);
  Result<std::optional<RoleRef>> find_role_by_id(Identity id);

  // One `add role` statement: one committed batch for the new names.
  Result<std::vector<RoleResult>> add_roles(std::vector<RoleRequest> requests);

  // Interning; the caller holds the engine-wide lock.
  Result<std::pair<AppearanceRef, bool>> intern_appearance(RoleRef role, Identity thing);
  Result<std::pair<AppearanceSetRef, bool>> intern_appearance_set(std::vector<AppearanceRef> members);

  // One `add posit` statement: interns the Posits then the assertions, appends the new ones as one
  // committed batch (store only), then indexes them. The work of each Posit (its value's bytes
  // included) is counted on `budget`, when given, until the batch is handed to the store (in memory:
  // until filing starts), and its stop condition is asked once more before; a stop ends the call
  // and nothing of the batch is stored or filed.
  Result<AddPositsResult> add_posits(std::vector<PendingPosit> posits, std::vector<PendingAssertion> assertions,
                                     Budget* budget = nullptr);
  // The same; the pending Posits are given back as they are interned. Without `handles` the result
  // is left empty (a caller that binds nothing spares the memory of a handle per Posit).
  Result<AddPositsResult> add_pending_posits(PendingPositList posits, std::vector<PendingAssertion> assertions,
                                             Budget* budget = nullptr, bool handles = true);

  // True for a database over a store directory.
  bool has_store() const;

  // The components: for the engine's own operations (engine_reads.h, interning_session.h,
  // engine_ops.h) and for tests.
  EngineState& state();

 private:
  Engine();
  std::unique_ptr<EngineState> state_;
};

}  // namespace brackwater::construct
