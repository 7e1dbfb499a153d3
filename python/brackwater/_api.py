"""The user-facing facade over the native module."""


class Database:
    """A Brackwater database, in memory or in a store directory."""
