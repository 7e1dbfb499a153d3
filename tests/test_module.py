"""The native module: its names, exception classes and version constants."""

import pathlib
import re

from packaging.version import Version

import brackwater
import brackwater._native as native

EXCEPTIONS = [
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
]
CONSTANTS = ["PYTHON_INTERFACE_VERSION", "VELQUIN_VERSION", "TERRAIN_VERSION", "ENGINE_PACKAGE_VERSION"]


def test_module_metadata_and_all_in_initialisation_order():
    assert native.__all__ == ["_Database"] + EXCEPTIONS + CONSTANTS
    for name in native.__all__:
        assert hasattr(native, name)
    assert native.__name__ == "brackwater._native"
    assert native.__doc__ in ("", None)
    assert native.__file__.endswith(".abi3.so")


def test_constants():
    for name in CONSTANTS[:3]:
        value = getattr(native, name)
        assert type(value) is int and value == 1
    # The package version is written once, in pyproject.toml ("0.1.4b2"); the module reports it in
    # the engine's form ("0.1.4-beta.2"), the same version under PEP 440.
    pyproject = (pathlib.Path(__file__).parents[1] / "pyproject.toml").read_text()
    written = re.search(r'^version = "(.+)"$', pyproject, re.M).group(1)
    assert re.fullmatch(r"\d+\.\d+\.\d+(-(alpha|beta|rc)\.\d+)?", native.ENGINE_PACKAGE_VERSION)
    assert Version(native.ENGINE_PACKAGE_VERSION) == Version(written)


def test_exception_classes():
    base = native.BrackwaterError
    assert base.__bases__ == (Exception,)
    for name in EXCEPTIONS:
        cls = getattr(native, name)
        assert cls.__name__ == name
        assert cls.__qualname__ == name
        assert cls.__module__ == "_native"
        assert cls.__doc__ is None
        if name != "BrackwaterError":
            assert cls.__bases__ == (base,)


def test_package_reexports():
    for name in EXCEPTIONS + CONSTANTS:
        assert getattr(brackwater, name) is getattr(native, name)
    assert "Database" in brackwater.__all__
