"""A first look at Brackwater."""

import brackwater

print("brackwater", brackwater.ENGINE_PACKAGE_VERSION)
print("python interface version", brackwater.PYTHON_INTERFACE_VERSION)
print("velquin version", brackwater.VELQUIN_VERSION)
print("terrain version", brackwater.TERRAIN_VERSION)
