"""A first look at Brackwater."""

import brackwater

print("brackwater", brackwater.__name__)
