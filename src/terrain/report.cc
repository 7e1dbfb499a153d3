// The Terrain JSON: compact, keys in a fixed order, none left out; Role identities as strings,
// counts, bits and masks as numbers, null only for an absent optional text.
#include "literal/json_writer.h"
#include "terrain/terrain.h"

namespace brackwater::terrain {

namespace {

using literal::append_json_bool;
using literal::append_json_optional_string;
using literal::append_json_string;
using literal::append_json_u64;

// Writes `"key":` after a separating comma unless it opens its object.
void key(std::string& out, std::string_view name, bool first = false) {
  if (!first) out.push_back(',');
  out.push_back('"');
  out.append(name);
  out.append("\":");
}

void u64(std::string& out, std::string_view name, uint64_t value, bool first = false) {
  key(out, name, first);
  append_json_u64(out, value);
}

void text(std::string& out, std::string_view name, std::string_view value, bool first = false) {
  key(out, name, first);
  append_json_string(out, value);
}

// `[item,item,...]` with write(out, item) for each.
template <class Items, class Write>
void list(std::string& out, const Items& items, Write&& write) {
  out.push_back('[');
  bool first = true;
  for (const auto& item : items) {
    if (!first) out.push_back(',');
    first = false;
    write(out, item);
  }
  out.push_back(']');
}

void string_list(std::string& out, std::string_view name, const std::vector<std::string>& items) {
  key(out, name);
  list(out, items, [](std::string& o, const std::string& s) { append_json_string(o, s); });
}

void write_frame(std::string& out, const TerrainFrame& frame) {
  text(out, "scope", frame.scope == FrameScope::History ? "history" : "current", true);
  key(out, "stats");
  out.push_back('{');
  u64(out, "endpoint_things", frame.stats.endpoint_things, true);
  u64(out, "roles", frame.stats.roles);
  u64(out, "appearance_sets", frame.stats.appearance_sets);
  u64(out, "posits", frame.stats.posits);
  u64(out, "incidences", frame.stats.incidences);
  out.push_back('}');
  key(out, "role_supports");
  list(out, frame.role_supports, [](std::string& o, const RoleSupport& s) {
    o.push_back('{');
    text(o, "role_id", s.role_id, true);
    u64(o, "distinct_things", s.distinct_things);
    o.push_back('}');
  });
  key(out, "profiles");
  list(out, frame.profiles, [](std::string& o, const Profile& p) {
    o.push_back('{');
    text(o, "id", p.id, true);
    u64(o, "mask", p.mask);
    string_list(o, "present_role_ids", p.present_role_ids);
    string_list(o, "absent_role_ids", p.absent_role_ids);
    u64(o, "things", p.things);
    key(o, "isopleth_id");
    append_json_optional_string(o, p.isopleth_id);
    o.push_back('}');
  });
  key(out, "isopleths");
  list(out, frame.isopleths, [](std::string& o, const Isopleth& i) {
    o.push_back('{');
    text(o, "id", i.id, true);
    u64(o, "mask", i.mask);
    string_list(o, "included_role_ids", i.included_role_ids);
    u64(o, "support", i.support);
    o.push_back('}');
  });
  key(out, "relationships");
  list(out, frame.relationships, [](std::string& o, const Relationship& r) {
    o.push_back('{');
    text(o, "signature_id", r.signature_id, true);
    u64(o, "appearance_sets", r.appearance_sets);
    u64(o, "posits", r.posits);
    key(o, "role_totals");
    list(o, r.role_totals, [](std::string& o2, const RoleTotal& t) {
      o2.push_back('{');
      text(o2, "role_id", t.role_id, true);
      u64(o2, "distinct_things", t.distinct_things);
      u64(o2, "participations", t.participations);
      o2.push_back('}');
    });
    key(o, "allocations");
    list(o, r.allocations, [](std::string& o2, const Allocation& a) {
      o2.push_back('{');
      text(o2, "id", a.id, true);
      text(o2, "role_id", a.role_id);
      text(o2, "profile_id", a.profile_id);
      u64(o2, "profile_mask", a.profile_mask);
      key(o2, "isopleth_id");
      append_json_optional_string(o2, a.isopleth_id);
      u64(o2, "distinct_things", a.distinct_things);
      u64(o2, "participations", a.participations);
      o2.push_back('}');
    });
    o.push_back('}');
  });
}

}  // namespace

void write_terrain_json(const Terrain& terrain, std::string& out) {
  out.push_back('{');
  u64(out, "terrain_version", terrain.terrain_version, true);
  text(out, "resolved_as_of", terrain.resolved_as_of);

  key(out, "database");
  out.push_back('{');
  u64(out, "referenced_things", terrain.database.referenced_things, true);
  u64(out, "roles", terrain.database.roles);
  u64(out, "appearances", terrain.database.appearances);
  u64(out, "appearance_sets", terrain.database.appearance_sets);
  u64(out, "posits", terrain.database.posits);
  out.push_back('}');

  key(out, "projection");
  out.push_back('{');
  key(out, "complete", true);
  append_json_bool(out, terrain.projection.complete);
  u64(out, "total_attribute_roles", terrain.projection.total_attribute_roles);
  key(out, "roles");
  list(out, terrain.projection.roles, [](std::string& o, const ProjectedRole& r) {
    o.push_back('{');
    text(o, "id", r.id, true);
    text(o, "name", r.name);
    u64(o, "bit", r.bit);
    u64(o, "history_support", r.history_support);
    u64(o, "current_support", r.current_support);
    o.push_back('}');
  });
  out.push_back('}');

  const RelationshipCatalog& catalog = terrain.relationship_catalog;
  key(out, "relationship_catalog");
  out.push_back('{');
  key(out, "complete", true);
  append_json_bool(out, catalog.complete);
  u64(out, "total_signatures", catalog.total_signatures);
  key(out, "default_signature_id");
  append_json_optional_string(out, catalog.default_signature_id);
  key(out, "signatures");
  list(out, catalog.signatures, [](std::string& o, const SignatureEntry& s) {
    o.push_back('{');
    text(o, "id", s.id, true);
    key(o, "roles");
    list(o, s.roles, [](std::string& o2, const RoleReference& r) {
      o2.push_back('{');
      text(o2, "id", r.id, true);
      text(o2, "name", r.name);
      o2.push_back('}');
    });
    o.push_back('}');
  });
  out.push_back('}');

  key(out, "frames");
  out.push_back('{');
  key(out, "history", true);
  out.push_back('{');
  write_frame(out, terrain.history);
  out.push_back('}');
  key(out, "current");
  out.push_back('{');
  write_frame(out, terrain.current);
  out.push_back('}');
  out.push_back('}');
  out.push_back('}');
}

}  // namespace brackwater::terrain
