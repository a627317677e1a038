"""The shared library and the C interface's declarations, through ctypes.

The library is found, in this order, at the path in the environment variable
TALLOWMERE_LIBRARY; where an installation put it (the path that `cmake --install` writes to
_location.py, relative to this package); else by the system's loader, by its soname.
"""

import ctypes
import os

SONAME = "libtallowmere.so.0"


class Fortune(ctypes.Structure):
    _fields_ = [
        ("path", ctypes.c_char_p),
        ("number", ctypes.c_int64),
        ("text", ctypes.c_void_p),
        ("text_length", ctypes.c_size_t),
    ]


class Filter(ctypes.Structure):
    _fields_ = [
        ("length", ctypes.c_int),
        ("length_limit", ctypes.c_int64),
        ("weighting", ctypes.c_int),
    ]


class IndexReport(ctypes.Structure):
    _fields_ = [
        ("state", ctypes.c_int),
        ("first_difference", ctypes.c_int64),
        ("num_fortunes", ctypes.c_int64),
        ("detail", ctypes.c_void_p),
    ]


VISITOR = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Fortune), ctypes.c_void_p)


def _library_path():
    path = os.environ.get("TALLOWMERE_LIBRARY")
    if path:
        return path
    try:
        from . import _location
    except ImportError:
        return SONAME
    return os.path.normpath(os.path.join(os.path.dirname(__file__), _location.LIBRARY))


def _declare(lib):
    status = ctypes.c_int
    handle = ctypes.c_void_p
    out_handle = ctypes.POINTER(ctypes.c_void_p)
    out_fortune = ctypes.POINTER(ctypes.POINTER(Fortune))
    signatures = {
        "tm_status_string": (ctypes.c_char_p, [status]),
        "tm_last_error_status": (status, []),
        "tm_last_error_message": (ctypes.c_char_p, []),
        "tm_last_error_path": (ctypes.c_char_p, []),
        "tm_version": (ctypes.c_char_p, []),
        "tm_free": (None, [ctypes.c_void_p]),
        "tm_collection_open_operands": (
            status, [ctypes.c_int, ctypes.POINTER(ctypes.c_char_p), ctypes.c_size_t, out_handle]),
        "tm_collection_close": (None, [handle]),
        "tm_collection_file_count": (status, [handle, ctypes.POINTER(ctypes.c_size_t)]),
        "tm_collection_draw": (
            status, [handle, ctypes.POINTER(Filter), ctypes.POINTER(ctypes.c_uint64), out_fortune]),
        "tm_collection_read": (status, [handle, ctypes.c_char_p, ctypes.c_int64, out_fortune]),
        "tm_collection_count": (
            status, [handle, ctypes.POINTER(Filter), ctypes.POINTER(ctypes.c_int64)]),
        "tm_collection_visit": (
            status, [handle, ctypes.POINTER(Filter), VISITOR, ctypes.c_void_p,
                     ctypes.POINTER(ctypes.c_int)]),
        "tm_collection_visit_matches": (
            status, [handle, ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(Filter), VISITOR,
                     ctypes.c_void_p, ctypes.POINTER(ctypes.c_int)]),
        "tm_fortune_file_open": (
            status, [ctypes.c_char_p, ctypes.c_int, ctypes.c_uint32, out_handle]),
        "tm_fortune_file_close": (status, [handle]),
        "tm_fortune_file_count": (status, [handle, ctypes.POINTER(ctypes.c_int64)]),
        "tm_fortune_file_get": (status, [handle, ctypes.c_int64, out_fortune]),
        "tm_fortune_file_append": (status, [handle, ctypes.c_char_p, ctypes.c_size_t]),
        "tm_fortune_file_rebuild_index": (status, [handle]),
        "tm_fortune_file_check": (status, [handle, ctypes.POINTER(IndexReport)]),
    }
    for name, (restype, argtypes) in signatures.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes
    return lib


lib = _declare(ctypes.CDLL(_library_path()))
