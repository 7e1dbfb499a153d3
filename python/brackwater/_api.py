"""The user-facing facade over the native module."""

from __future__ import annotations

import os
from typing import Dict, Optional, Tuple, Union

from . import _native


class Database:
    """A Brackwater database, in memory or in a store directory.

    Create one with ``Database.memory()`` or ``Database.open(path)``. A database is a context manager
    that closes it on exit; closing releases the store and its lock file at once.
    """

    __slots__ = ("_native",)

    def __init__(self, native: "_native._Database") -> None:
        self._native = native

    @classmethod
    def memory(cls) -> "Database":
        """A new database that lives in memory only."""
        return cls(_native._Database.memory())

    @classmethod
    def open(cls, path: Union[str, "os.PathLike[str]"]) -> "Database":
        """Opens the store directory ``path``, creating it when it does not exist."""
        return cls(_native._Database.open(os.fspath(path)))

    def execute_json(
        self,
        script: str,
        parameters: Optional[Dict[str, Tuple[str, str]]] = None,
        now: Optional[str] = None,
        timeout: Optional[float] = None,
        max_rows: Optional[int] = None,
    ) -> str:
        """Runs a Velquin script and returns the response as JSON text."""
        return self._native.execute_json(script, parameters, now, timeout, max_rows)

    def terrain_json(
        self,
        as_of: Optional[str] = None,
        timeout: Optional[float] = 5.0,
        projected_role_limit: Optional[int] = None,
        max_relationship_signatures: Optional[int] = None,
    ) -> str:
        """Returns the Terrain, a statistical map of the database, as JSON text.

        ``as_of`` picks the moment of the current frame (a time token, by default "@NOW");
        ``timeout`` is in seconds, and None means no time limit.
        """
        return self._native.terrain_json(as_of, timeout, projected_role_limit, max_relationship_signatures)

    def close(self) -> None:
        """Releases the database; a second call does nothing."""
        self._native.close()

    @property
    def closed(self) -> bool:
        """True once the database has been closed."""
        return self._native.closed

    def __enter__(self) -> "Database":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return repr(self._native)
