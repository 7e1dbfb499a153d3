// The version numbers the module exports and every response carries.
#pragma once

#include "terrain/ids.h"

namespace brackwater::python {

inline constexpr int kPythonInterfaceVersion = 1;
inline constexpr int kVelquinVersion = 1;
inline constexpr int kTerrainVersion = terrain::kTerrainVersion;
// From pyproject.toml, passed in by the build (CMakeLists.txt).
inline constexpr const char* kEnginePackageVersion = BRACKWATER_PACKAGE_VERSION;

}  // namespace brackwater::python
