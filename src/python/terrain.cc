// `_Database.terrain_json`: argument conversion in signature order, the checks in their fixed
// order, the Terrain capture and computation with the interpreter lock released, and the JSON
// written with it held. A left-out `timeout` is 5 seconds; None means no time limit.
#include <optional>
#include <string>

#include "python/arguments.h"
#include "python/boundary.h"
#include "python/database.h"
#include "python/exceptions.h"
#include "python/released.h"
#include "python/time_argument.h"
#include "terrain/terrain.h"

namespace brackwater::python {
namespace {

constexpr double kDefaultTimeoutSeconds = 5.0;
constexpr uint64_t kDefaultProjectedRoleLimit = 8;
constexpr uint64_t kDefaultMaxRelationshipSignatures = 16;

PyObject* terrain_json(DatabaseObject* db, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"as_of", "timeout", "projected_role_limit", "max_relationship_signatures",
                                   nullptr};
  PyObject* as_of_object = nullptr;
  PyObject* timeout_object = nullptr;
  PyObject* role_limit_object = nullptr;
  PyObject* signature_limit_object = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOO:terrain_json", const_cast<char**>(keywords), &as_of_object,
                                   &timeout_object, &role_limit_object, &signature_limit_object)) {
    return nullptr;
  }
  SharedBorrow borrow(db->borrow);
  if (!borrow.held()) {
    raise_already_mutably_borrowed();
    return nullptr;
  }

  std::optional<std::string> as_of;
  std::optional<double> timeout;
  std::optional<uint64_t> role_limit;
  std::optional<uint64_t> signature_limit;
  if (!convert_optional_text(as_of_object, "as_of", as_of)) return nullptr;
  if (timeout_object == nullptr) {
    timeout = kDefaultTimeoutSeconds;
  } else if (!convert_optional_seconds(timeout_object, "timeout", timeout)) {
    return nullptr;
  }
  if (!convert_optional_u64(role_limit_object, "projected_role_limit", role_limit) ||
      !convert_optional_u64(signature_limit_object, "max_relationship_signatures", signature_limit)) {
    return nullptr;
  }

  std::shared_ptr<construct::Engine> engine = open_engine(db);
  if (engine == nullptr) return nullptr;
  const std::optional<literal::TimeValue> resolved = parse_time_argument(as_of, literal::wall_clock_now(), "as_of");
  if (!resolved) return nullptr;

  terrain::TerrainLimits limits;
  if (!convert_timeout(timeout, limits.timeout)) return nullptr;
  limits.projected_role_limit = role_limit.value_or(kDefaultProjectedRoleLimit);
  limits.max_relationship_signatures = signature_limit.value_or(kDefaultMaxRelationshipSignatures);
  limits.as_of = *resolved;

  auto result = run_released(std::move(engine), [&](std::shared_ptr<construct::Engine>&& held) {
    return terrain::capture_terrain(*held, limits);
  });
  if (!result) {
    raise_engine_error(result.error());
    return nullptr;
  }
  std::string json;
  json.reserve(128);
  terrain::write_terrain_json(*result, json);
  return json_text(json, "cannot serialize Terrain: the report is not valid UTF-8");
}

}  // namespace

PyObject* database_terrain_json(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&] { return terrain_json(reinterpret_cast<DatabaseObject*>(self), args, kwargs); });
}

}  // namespace brackwater::python
