// The Terrain JSON: compact, keys in a fixed order, none left out; Role identities as strings,
// counts, bits and masks as numbers, null only for an absent optional text.
#include "literal/json_writer.h"
#include "terrain/terrain.h"

namespace brackwater::terrain {

namespace {

using literal::append_json_array;
using literal::append_json_bool;
using literal::append_json_key;
using literal::append_json_optional_string;
using literal::append_json_string_array;
using literal::append_json_string_member;
using literal::append_json_u64_member;

void write_frame(std::string& out, const TerrainFrame& frame) {
  append_json_string_member(out, "scope", frame.scope == FrameScope::History ? "history" : "current", true);
  append_json_key(out, "stats");
  out.push_back('{');
  append_json_u64_member(out, "endpoint_things", frame.stats.endpoint_things, true);
  append_json_u64_member(out, "roles", frame.stats.roles);
  append_json_u64_member(out, "appearance_sets", frame.stats.appearance_sets);
  append_json_u64_member(out, "posits", frame.stats.posits);
  append_json_u64_member(out, "incidences", frame.stats.incidences);
  out.push_back('}');
  append_json_key(out, "role_supports");
  append_json_array(out, frame.role_supports, [](std::string& o, const RoleSupport& s) {
    o.push_back('{');
    append_json_string_member(o, "role_id", s.role_id, true);
    append_json_u64_member(o, "distinct_things", s.distinct_things);
    o.push_back('}');
  });
  append_json_key(out, "profiles");
  append_json_array(out, frame.profiles, [](std::string& o, const Profile& p) {
    o.push_back('{');
    append_json_string_member(o, "id", p.id, true);
    append_json_u64_member(o, "mask", p.mask);
    append_json_key(o, "present_role_ids");
    append_json_string_array(o, p.present_role_ids);
    append_json_key(o, "absent_role_ids");
    append_json_string_array(o, p.absent_role_ids);
    append_json_u64_member(o, "things", p.things);
    append_json_key(o, "isopleth_id");
    append_json_optional_string(o, p.isopleth_id);
    o.push_back('}');
  });
  append_json_key(out, "isopleths");
  append_json_array(out, frame.isopleths, [](std::string& o, const Isopleth& i) {
    o.push_back('{');
    append_json_string_member(o, "id", i.id, true);
    append_json_u64_member(o, "mask", i.mask);
    append_json_key(o, "included_role_ids");
    append_json_string_array(o, i.included_role_ids);
    append_json_u64_member(o, "support", i.support);
    o.push_back('}');
  });
  append_json_key(out, "relationships");
  append_json_array(out, frame.relationships, [](std::string& o, const Relationship& r) {
    o.push_back('{');
    append_json_string_member(o, "signature_id", r.signature_id, true);
    append_json_u64_member(o, "appearance_sets", r.appearance_sets);
    append_json_u64_member(o, "posits", r.posits);
    append_json_key(o, "role_totals");
    append_json_array(o, r.role_totals, [](std::string& o2, const RoleTotal& t) {
      o2.push_back('{');
      append_json_string_member(o2, "role_id", t.role_id, true);
      append_json_u64_member(o2, "distinct_things", t.distinct_things);
      append_json_u64_member(o2, "participations", t.participations);
      o2.push_back('}');
    });
    append_json_key(o, "allocations");
    append_json_array(o, r.allocations, [](std::string& o2, const Allocation& a) {
      o2.push_back('{');
      append_json_string_member(o2, "id", a.id, true);
      append_json_string_member(o2, "role_id", a.role_id);
      append_json_string_member(o2, "profile_id", a.profile_id);
      append_json_u64_member(o2, "profile_mask", a.profile_mask);
      append_json_key(o2, "isopleth_id");
      append_json_optional_string(o2, a.isopleth_id);
      append_json_u64_member(o2, "distinct_things", a.distinct_things);
      append_json_u64_member(o2, "participations", a.participations);
      o2.push_back('}');
    });
    o.push_back('}');
  });
}

}  // namespace

void write_terrain_json(const Terrain& terrain, std::string& out) {
  out.push_back('{');
  append_json_u64_member(out, "terrain_version", terrain.terrain_version, true);
  append_json_string_member(out, "resolved_as_of", terrain.resolved_as_of);

  append_json_key(out, "database");
  out.push_back('{');
  append_json_u64_member(out, "referenced_things", terrain.database.referenced_things, true);
  append_json_u64_member(out, "roles", terrain.database.roles);
  append_json_u64_member(out, "appearances", terrain.database.appearances);
  append_json_u64_member(out, "appearance_sets", terrain.database.appearance_sets);
  append_json_u64_member(out, "posits", terrain.database.posits);
  out.push_back('}');

  append_json_key(out, "projection");
  out.push_back('{');
  append_json_key(out, "complete", true);
  append_json_bool(out, terrain.projection.complete);
  append_json_u64_member(out, "total_attribute_roles", terrain.projection.total_attribute_roles);
  append_json_key(out, "roles");
  append_json_array(out, terrain.projection.roles, [](std::string& o, const ProjectedRole& r) {
    o.push_back('{');
    append_json_string_member(o, "id", r.id, true);
    append_json_string_member(o, "name", r.name);
    append_json_u64_member(o, "bit", r.bit);
    append_json_u64_member(o, "history_support", r.history_support);
    append_json_u64_member(o, "current_support", r.current_support);
    o.push_back('}');
  });
  out.push_back('}');

  const RelationshipCatalog& catalog = terrain.relationship_catalog;
  append_json_key(out, "relationship_catalog");
  out.push_back('{');
  append_json_key(out, "complete", true);
  append_json_bool(out, catalog.complete);
  append_json_u64_member(out, "total_signatures", catalog.total_signatures);
  append_json_key(out, "default_signature_id");
  append_json_optional_string(out, catalog.default_signature_id);
  append_json_key(out, "signatures");
  append_json_array(out, catalog.signatures, [](std::string& o, const SignatureEntry& s) {
    o.push_back('{');
    append_json_string_member(o, "id", s.id, true);
    append_json_key(o, "roles");
    append_json_array(o, s.roles, [](std::string& o2, const RoleReference& r) {
      o2.push_back('{');
      append_json_string_member(o2, "id", r.id, true);
      append_json_string_member(o2, "name", r.name);
      o2.push_back('}');
    });
    o.push_back('}');
  });
  out.push_back('}');

  append_json_key(out, "frames");
  out.push_back('{');
  append_json_key(out, "history", true);
  out.push_back('{');
  write_frame(out, terrain.history);
  out.push_back('}');
  append_json_key(out, "current");
  out.push_back('{');
  write_frame(out, terrain.current);
  out.push_back('}');
  out.push_back('}');
  out.push_back('}');
}

}  // namespace brackwater::terrain
