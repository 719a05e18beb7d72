"""Calling exported native kernels through their capsules with ctypes."""

import ctypes

_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype = ctypes.c_void_p
_get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_get_name = ctypes.pythonapi.PyCapsule_GetName
_get_name.restype = ctypes.c_char_p
_get_name.argtypes = [ctypes.py_object]
_new = ctypes.pythonapi.PyCapsule_New
_new.restype = ctypes.py_object
_new.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
_names = []  # a capsule keeps the address of its name: keep the bytes alive


def new_capsule(pointer, name):
    """A capsule of `pointer` named `name` (a str)."""
    _names.append(name.encode())
    return _new(pointer, _names[-1], None)


def capsule_pointer(capsule):
    return _get_pointer(capsule, _get_name(capsule))


def capsule_name(capsule):
    return _get_name(capsule).decode()


def address(module, name):
    return capsule_pointer(module.__pyx_capi__[name])


def kernel(module, name, restype, *argtypes, holds_gil=False):
    """The exported function `name` of `module` as a ctypes callable.

    With holds_gil the call keeps the interpreter lock (PYFUNCTYPE), as
    kernels that create Python objects require.
    """
    factory = ctypes.PYFUNCTYPE if holds_gil else ctypes.CFUNCTYPE
    return factory(restype, *argtypes)(address(module, name))


def variable(module, name, ctype=ctypes.c_double):
    return ctype.from_address(address(module, name))


Vec3 = ctypes.c_double * 3


def vec(*values):
    return Vec3(*values)
