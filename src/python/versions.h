// The version numbers the module exports and every response carries.
#pragma once

#include "terrain/ids.h"

namespace brackwater::python {

inline constexpr int kPythonInterfaceVersion = 1;
inline constexpr int kVelquinVersion = 1;
inline constexpr int kTerrainVersion = terrain::kTerrainVersion;
inline constexpr const char* kEnginePackageVersion = "0.1.4-beta.2";

}  // namespace brackwater::python
