"""Reaching the siblings' native exports and method tables through ctypes."""

import ctypes

_api = ctypes.pythonapi
_api.PyCapsule_GetPointer.restype = ctypes.c_void_p
_api.PyCapsule_GetPointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
_api.PyCapsule_GetName.restype = ctypes.c_char_p
_api.PyCapsule_GetName.argtypes = [ctypes.py_object]

Vec3 = ctypes.c_double * 3


def capsule_name(capsule):
    name = _api.PyCapsule_GetName(capsule)
    return None if name is None else name.decode()


def capsule_pointer(capsule):
    return _api.PyCapsule_GetPointer(capsule, _api.PyCapsule_GetName(capsule))


def vtable_entries(type_, count):
    """The first `count` function pointers of a type's native method table."""
    table = capsule_pointer(type_.__dict__["__pyx_vtable__"])
    return [ctypes.c_void_p.from_address(table + i * ctypes.sizeof(ctypes.c_void_p)).value for i in range(count)]


def exported_object(module, name):
    """The object a pointer variable of `module.__pyx_capi__` points at (its address)."""
    return ctypes.c_void_p.from_address(capsule_pointer(module.__pyx_capi__[name])).value
