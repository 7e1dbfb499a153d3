// `add posit`: one call interns the command's Posits and assertions, staging the new ones in the
// Posit storage, persists them as one committed batch, then files them; a failure before they are
// filed gives the staged records back.
#include "construct/engine_ops.h"
#include "storage/store.h"

namespace brackwater::construct {

void fail_close_store(EngineState& state) {
  auto slot = state.store.lock();
  // A poisoned store lock already refuses every later append.
  if (slot && (*slot)->store) (*slot)->store->set_fail_closed();
}

namespace {

// Persists the staged Posits (store only) and files them.
Result<void> persist_and_file(EngineState& state, NewPositList& new_posits, Budget* budget) {
  if (new_posits.empty()) return {};
  new_posits.end_lookups();
  // The payloads one after another in one buffer, record i ending at ends[i]. Encoding can refuse
  // only a set that repeats a Role, which a catalog set never does: a memory database skips it.
  std::vector<uint8_t> payload_bytes;
  std::vector<uint64_t> ends;
  if (state.has_store()) {
    // Room for the values and a few dozen bytes more a record: the buffer seldom moves.
    payload_bytes.reserve(64 * new_posits.size() + new_posits.value_bytes());
    ends.reserve(new_posits.size());
    storage::ByteWriter payloads(std::move(payload_bytes));
    for (size_t i = 0; i < new_posits.size(); ++i) {
      const Posit& p = new_posits[i];
      if (auto r = posit_work(budget, p.value.text.size()); !r) return fail(std::move(r.error()));
      auto record = storage::encode_posit_payload(p.identity, *p.appearance_set, p.value, p.appearance_time, payloads);
      if (!record) return fail(std::move(record.error()));
      ends.push_back(payloads.size());
    }
    payload_bytes = payloads.take();
  }
  // The last moment to stop: from here the batch is stored and filed whole.
  if (budget != nullptr) {
    if (auto r = budget->check_stop(); !r) return fail(std::move(r.error()));
  }
  bool appended = false;
  {
    BW_LOCK(store, state.store);
    if (store->store) {
      auto written = store->store->append_batch(storage::RecordType::Posit, payload_bytes, ends);
      if (!written) return fail(std::move(written.error()));
      appended = true;
    }
  }
  payload_bytes = {};
  ends = {};
  if (auto filed = file_new_posits(state, new_posits); !filed) {
    if (appended) fail_close_store(state);
    return filed;
  }
  return {};
}

}  // namespace

Result<AddPositsResult> add_posits(EngineState& state, PendingPositList posits,
                                   std::vector<PendingAssertion> assertions, Budget* budget, bool handles) {
  const uint64_t target_count = posits.size();
  for (const PendingAssertion& a : assertions) {
    if (a.target >= target_count) {
      return fail(EngineError::internal("assertion target index " + std::to_string(a.target) + " is outside " +
                                        std::to_string(target_count) + " targets"));
    }
  }
  for (const PendingAssertion& a : assertions) {
    if (a.certainty.kind != literal::LiteralKind::Certainty) {
      return fail(EngineError::execution("assertion certainty must be a percent literal, found " + a.certainty.text));
    }
  }

  NewPositList new_posits(state.records);
  // The assertions find their targets through the slots.
  auto posit_slots = intern_posits(state, posits, new_posits, budget, handles || !assertions.empty());
  if (!posit_slots) return fail(std::move(posit_slots.error()));

  RoleRef posit_role;
  RoleRef ascertains_role;
  {
    BW_LOCK(roles, state.roles);
    auto p = roles->find_by_id(kPositRoleId);
    if (!p) return fail(EngineError::internal("built-in posit role is missing"));
    auto a = roles->find_by_id(kAscertainsRoleId);
    if (!a) return fail(EngineError::internal("built-in ascertains role is missing"));
    posit_role = *p;
    ascertains_role = *a;
  }

  PendingPositList assertion_posits;
  for (PendingAssertion& a : assertions) {
    if (auto r = posit_work(budget, a.certainty.text.size()); !r) return fail(std::move(r.error()));
    if (a.target >= posit_slots->size()) {
      return fail(EngineError::internal("validated assertion target disappeared"));
    }
    const Identity target_id = (*posit_slots)[a.target]->identity;
    auto target = intern_appearance(state, posit_role, target_id);
    if (!target) return fail(std::move(target.error()));
    auto source = intern_appearance(state, ascertains_role, a.source);
    if (!source) return fail(std::move(source.error()));
    auto set = intern_appearance_set(state, {target->first, source->first});
    if (!set) return fail(std::move(set.error()));
    assertion_posits.push_back(std::move(a.certainty), set->first, a.time, a.repeats);
  }
  auto assertion_slots = intern_posits(state, assertion_posits, new_posits, budget, handles);
  if (!assertion_slots) return fail(std::move(assertion_slots.error()));
  if (!handles) *posit_slots = {};

  if (auto filed = persist_and_file(state, new_posits, budget); !filed) return fail(std::move(filed.error()));
  return AddPositsResult{std::move(*posit_slots), std::move(*assertion_slots)};
}

}  // namespace brackwater::construct
