"""Pickling of the native module's exceptions.

The exception classes of `brackwater._native` are named "_native.<Name>", after a module that
pickle cannot import, so pickle cannot save them by reference. Each class is registered with
`copyreg` instead: an instance is saved as its class name, its arguments and its instance state
(its notes, `__notes__`, among it) and rebuilt in the loading process from the class of that name,
so an engine error raised in a worker process reaches the parent as the same class with the same
message. Subclasses defined elsewhere pickle as any exception does.
"""

import copyreg

from . import _native

_CLASSES = {
    cls.__name__: cls
    for cls in (getattr(_native, name) for name in _native.__all__)
    if isinstance(cls, type) and issubclass(cls, BaseException)
}


def _rebuild(name, args):
    """The exception of the native class `name` with `args`; pickle then restores its state."""
    cls = _CLASSES.get(name)
    if cls is None:
        import pickle  # only a damaged or foreign pickle gets here: importing it up front costs every import

        raise pickle.UnpicklingError(f"brackwater has no exception class {name!r}")
    return cls(*args)


def _reduce(error):
    return _rebuild, (type(error).__name__, error.args), error.__dict__ or None


for _cls in _CLASSES.values():
    copyreg.pickle(_cls, _reduce)
del _cls
