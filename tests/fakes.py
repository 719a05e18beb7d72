"""Fake exporters for import-failure tests.

Used inside the fresh interpreters of those tests (the test folder is on
their path): a fake stands in for a real module in sys.modules, starting as a
copy of the real module's attributes and export table, which the test then
edits.
"""

import importlib
import sys
import types

from capsules import capsule_pointer, new_capsule

__all__ = ["attempt", "fake_of", "new_capsule", "renamed"]


def renamed(capsule, name):
    """A capsule with the same pointer under another signature string."""
    return new_capsule(capsule_pointer(capsule), name)


def fake_of(path, drop=(), **attrs):
    """Put a copy of module `path` in sys.modules, without the exports in
    `drop` and with `attrs` set; returns the fake."""
    real = importlib.import_module(path)
    fake = types.ModuleType(path)
    fake.__dict__.update({k: v for k, v in vars(real).items() if k not in ("__name__", "__spec__", "__loader__")})
    if hasattr(real, "__pyx_capi__"):
        fake.__pyx_capi__ = {k: v for k, v in real.__pyx_capi__.items() if k not in drop}
    fake.__dict__.update(attrs)
    sys.modules[path] = fake
    return fake


def attempt(path):
    """Import `path`, printing "Type: message" on failure, else "imported"."""
    try:
        importlib.import_module(path)
    except Exception as exc:
        print(type(exc).__name__, exc, sep=": ")
        return False
    print("imported")
    return True
