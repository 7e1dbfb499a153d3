"""Brackwater: an embedded database engine for posits."""

from ._native import (
    ENGINE_PACKAGE_VERSION,
    PYTHON_INTERFACE_VERSION,
    TERRAIN_VERSION,
    VELQUIN_VERSION,
    BrackwaterError,
    CancelledError,
    ClosedError,
    ConfigurationError,
    DataCorruptionError,
    ExecutionError,
    InternalError,
    InvalidQueryError,
    ParseError,
    PersistenceError,
    QueryTimeoutError,
    ResourceLimitError,
)
from ._api import Database
from . import _pickling  # noqa: F401 - registers the exception classes with copyreg

__all__ = [
    "Database",
    "BrackwaterError",
    "ConfigurationError",
    "PersistenceError",
    "DataCorruptionError",
    "ParseError",
    "ExecutionError",
    "CancelledError",
    "QueryTimeoutError",
    "ResourceLimitError",
    "InvalidQueryError",
    "InternalError",
    "ClosedError",
    "PYTHON_INTERFACE_VERSION",
    "VELQUIN_VERSION",
    "TERRAIN_VERSION",
    "ENGINE_PACKAGE_VERSION",
]
