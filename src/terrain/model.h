// The records of a finished Terrain, in the order the JSON writes them.
//
// Role identities are carried as decimal text; masks are numbers here and hexadecimal only inside
// identifiers. A ProjectedRole keeps its identity as a number too, for the steps that need it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "construct/identity.h"

namespace brackwater::terrain {

// A relationship signature: the Role identities of a set's members, ascending.
using Signature = std::vector<uint64_t>;

// The whole database, independent of the as-of moment.
struct DatabaseCounts {
  uint64_t referenced_things = 0;  // identities the pool holds (Roles, Things and Posits)
  uint64_t roles = 0;
  uint64_t appearances = 0;
  uint64_t appearance_sets = 0;
  uint64_t posits = 0;
};

struct ProjectedRole {
  std::string id;
  std::string name;
  uint8_t bit = 0;
  uint64_t history_support = 0;
  uint64_t current_support = 0;
  construct::Identity role = 0;
};

struct Projection {
  bool complete = true;
  uint64_t total_attribute_roles = 0;
  std::vector<ProjectedRole> roles;  // projection order; bit = position
};

struct RoleReference {
  std::string id;
  std::string name;
};

struct SignatureEntry {
  std::string id;
  std::vector<RoleReference> roles;
};

struct RelationshipCatalog {
  bool complete = true;
  uint64_t total_signatures = 0;
  std::optional<std::string> default_signature_id;
  std::vector<SignatureEntry> signatures;  // catalog order
  std::vector<Signature> kept;             // the same signatures, as identities (not written)
};

enum class FrameScope : uint8_t { History = 0, Current = 1 };

struct FrameCounts {
  uint64_t endpoint_things = 0;
  uint64_t roles = 0;
  uint64_t appearance_sets = 0;
  uint64_t posits = 0;
  uint64_t incidences = 0;
};

struct RoleSupport {
  std::string role_id;
  uint64_t distinct_things = 0;
};

struct Profile {
  std::string id;
  uint16_t mask = 0;
  std::vector<std::string> present_role_ids;
  std::vector<std::string> absent_role_ids;
  uint64_t things = 0;
  std::optional<std::string> isopleth_id;  // absent for mask 0
};

struct Isopleth {
  std::string id;
  uint16_t mask = 0;
  std::vector<std::string> included_role_ids;
  uint64_t support = 0;
};

struct RoleTotal {
  std::string role_id;
  uint64_t distinct_things = 0;
  uint64_t participations = 0;
};

struct Allocation {
  std::string id;
  std::string role_id;
  std::string profile_id;
  uint16_t profile_mask = 0;
  std::optional<std::string> isopleth_id;  // absent for mask 0
  uint64_t distinct_things = 0;
  uint64_t participations = 0;
};

struct Relationship {
  std::string signature_id;
  uint64_t appearance_sets = 0;
  uint64_t posits = 0;
  std::vector<RoleTotal> role_totals;   // ascending Role identity
  std::vector<Allocation> allocations;  // ascending Role identity, then mask
};

struct TerrainFrame {
  FrameScope scope = FrameScope::History;
  FrameCounts stats;
  std::vector<RoleSupport> role_supports;    // projection order
  std::vector<Profile> profiles;             // ascending mask
  std::vector<Isopleth> isopleths;           // fewer bits, greater support, smaller mask first
  std::vector<Relationship> relationships;   // catalog order
};

struct Terrain {
  uint16_t terrain_version = 1;
  std::string resolved_as_of;
  DatabaseCounts database;
  Projection projection;
  RelationshipCatalog relationship_catalog;
  TerrainFrame history;
  TerrainFrame current;
};

}  // namespace brackwater::terrain
