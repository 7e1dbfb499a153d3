#include "terrain/catalog.h"

#include <algorithm>

#include "terrain/ids.h"

namespace brackwater::terrain {

namespace {

struct SignatureKey {
  uint64_t current = 0;
  uint64_t history = 0;
  const Signature* signature = nullptr;
  size_t first_name = 0;  // position of the signature's names in the shared name list
};

uint64_t set_count(const SignatureMap::const_iterator& it) { return it->second.sets.size(); }

}  // namespace

Result<RelationshipCatalog> build_relationship_catalog(const FrameStats& history, const FrameStats& current,
                                                       const RoleNames& names, uint64_t limit) {
  // The union of both frames' signatures, each with its counts and its Role names resolved once.
  std::vector<SignatureKey> keys;
  std::vector<const std::string*> role_names;  // nullptr: the Role has no name
  auto h = history.signature_map.begin();
  auto c = current.signature_map.begin();
  const SignatureLess less;
  while (h != history.signature_map.end() || c != current.signature_map.end()) {
    SignatureKey key;
    if (c == current.signature_map.end() || (h != history.signature_map.end() && less(h->first, c->first))) {
      key.signature = &h->first;
      key.history = set_count(h++);
    } else if (h == history.signature_map.end() || less(c->first, h->first)) {
      key.signature = &c->first;
      key.current = set_count(c++);
    } else {
      key.signature = &h->first;
      key.history = set_count(h++);
      key.current = set_count(c++);
    }
    key.first_name = role_names.size();
    for (const uint64_t role : *key.signature) role_names.push_back(names.find(role));
    keys.push_back(key);
  }

  auto signature_order_is_less = [&role_names, &less](const SignatureKey& a, const SignatureKey& b) {
    if (a.current != b.current) return a.current > b.current;
    if (a.history != b.history) return a.history > b.history;
    const size_t len_a = a.signature->size();
    const size_t len_b = b.signature->size();
    if (len_a != len_b) return len_a > len_b;
    for (size_t i = 0; i < len_a; ++i) {
      if (int c = compare_role_names(role_names[a.first_name + i], role_names[b.first_name + i])) return c < 0;
    }
    return less(*a.signature, *b.signature);
  };

  RelationshipCatalog out;
  out.total_signatures = keys.size();
  out.complete = keys.size() <= limit;
  const size_t kept = std::min<uint64_t>(limit, keys.size());
  std::partial_sort(keys.begin(), keys.begin() + kept, keys.end(), signature_order_is_less);
  for (size_t i = 0; i < kept; ++i) {
    const Signature& signature = *keys[i].signature;
    SignatureEntry entry{signature_id(signature), {}};
    for (size_t p = 0; p < signature.size(); ++p) {
      const std::string* name = role_names[keys[i].first_name + p];
      if (name == nullptr) return fail(EngineError::internal("Terrain references unknown Role " + decimal(signature[p])));
      entry.roles.push_back(RoleReference{decimal(signature[p]), *name});
    }
    out.signatures.push_back(std::move(entry));
    out.kept.push_back(signature);
  }
  if (!out.signatures.empty()) out.default_signature_id = out.signatures.front().id;
  return out;
}

}  // namespace brackwater::terrain
