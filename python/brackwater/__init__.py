"""Brackwater: an embedded database engine for posits."""

from ._api import Database

__all__ = ["Database"]
