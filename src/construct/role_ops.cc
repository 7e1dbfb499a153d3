// Identity draws, Role registration, the built-in Role check and `add role`.
#include <unordered_map>

#include "construct/engine_ops.h"
#include "literal/unicode.h"
#include "storage/store.h"

namespace brackwater::construct {

Result<Identity> draw_identity(EngineState& state) {
  BW_LOCK(pool, state.identities);
  return pool->draw();
}

Result<void> record_identity(EngineState& state, Identity id) {
  BW_LOCK(pool, state.identities);
  pool->record(id);
  return {};
}

Result<std::pair<RoleRef, bool>> register_role(EngineState& state, std::string nfc_name, Identity id,
                                               bool reserved) {
  BW_LOCK(roles, state.roles);
  return roles->insert(std::move(nfc_name), id, reserved);
}

Result<void> ensure_builtin_role(EngineState& state, Identity id, std::string_view name) {
  {
    BW_LOCK(roles, state.roles);
    if (auto found = roles->find_by_name(name)) {
      const Role& role = **found;
      if (role.identity == id && role.reserved) return {};
      return fail(EngineError::data_corruption("built-in role '" + std::string(name) + "' must be reserved identity " +
                                               std::to_string(id) + ", found identity " +
                                               std::to_string(role.identity) +
                                               " (reserved=" + (role.reserved ? "true" : "false") + ")"));
    }
    if (auto found = roles->find_by_id(id)) {
      return fail(EngineError::data_corruption("built-in role identity " + std::to_string(id) + " belongs to '" +
                                               (*found)->name + "', expected '" + std::string(name) + "'"));
    }
  }
  if (auto recorded = record_identity(state, id); !recorded) return recorded;
  auto registered = register_role(state, literal::to_nfc(name), id, true);
  if (!registered) return fail(std::move(registered.error()));
  return {};
}

Result<std::vector<RoleResult>> add_roles(EngineState& state, std::vector<RoleRequest> requests) {
  struct BatchEntry {
    std::string name;
    Identity identity;
    bool reserved;
    RoleRef role = nullptr;
  };
  // Per request: an existing Role, or the index of its batch entry.
  struct Pick {
    RoleRef existing = nullptr;
    size_t batch_index = 0;
  };
  std::vector<BatchEntry> batch;
  std::unordered_map<std::string, size_t> batch_by_name;
  std::vector<Pick> picks;
  picks.reserve(requests.size());

  for (RoleRequest& request : requests) {
    std::string name = literal::to_nfc(request.name);
    if (name.empty()) return fail(EngineError::execution("role name cannot be empty"));
    {
      BW_LOCK(roles, state.roles);
      if (auto found = roles->find_by_name(name)) {
        picks.push_back({*found, 0});
        continue;
      }
    }
    if (auto it = batch_by_name.find(name); it != batch_by_name.end()) {
      if (batch[it->second].reserved != request.reserved) {
        return fail(EngineError::execution("role '" + name + "' has conflicting reserved status in one command"));
      }
      picks.push_back({nullptr, it->second});
      continue;
    }
    auto id = draw_identity(state);
    if (!id) return fail(std::move(id.error()));
    batch_by_name.emplace(name, batch.size());
    picks.push_back({nullptr, batch.size()});
    batch.push_back({std::move(name), *id, request.reserved});
  }

  bool appended = false;
  if (!batch.empty()) {
    std::vector<storage::PendingRecord> records;
    records.reserve(batch.size());
    for (const BatchEntry& entry : batch) {
      records.push_back(storage::encode_role_payload(Role{entry.name, entry.identity, entry.reserved}));
    }
    BW_LOCK(store, state.store);
    if (store->store) {
      auto written = store->store->append_batch(std::move(records));
      if (!written) return fail(std::move(written.error()));
      appended = true;
    }
  }

  for (BatchEntry& entry : batch) {
    auto registered = register_role(state, entry.name, entry.identity, entry.reserved);
    if (!registered) {
      if (appended) fail_close_store(state);
      return fail(std::move(registered.error()));
    }
    entry.role = registered->first;
  }

  std::vector<RoleResult> results;
  results.reserve(picks.size());
  for (const Pick& pick : picks) {
    if (pick.existing) {
      results.push_back({pick.existing, true});
    } else {
      results.push_back({batch[pick.batch_index].role, false});
    }
  }
  return results;
}

}  // namespace brackwater::construct
