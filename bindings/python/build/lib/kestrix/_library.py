"""Finds and loads the kestrix shared library, once."""
import ctypes
import ctypes.util
import functools
import os
import sys

from . import _abi

_NAMES = {"win32": ["kestrix.dll"], "darwin": ["libkestrix.dylib"]}.get(
    sys.platform, ["libkestrix.so.1", "libkestrix.so"])


@functools.lru_cache(maxsize=None)
def library() -> ctypes.CDLL:
    """The library: beside this package, else at $KESTRIX_LIBRARY, else where
    the system's loader finds it. stdcall (WinDLL) on 32-bit Windows."""
    loader = ctypes.WinDLL if sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4 \
        else ctypes.CDLL
    here = os.path.dirname(os.path.abspath(__file__))
    candidates = [os.path.join(here, name) for name in _NAMES]
    candidates = [path for path in candidates if os.path.exists(path)]
    if os.environ.get("KESTRIX_LIBRARY"):
        candidates.append(os.environ["KESTRIX_LIBRARY"])
    candidates += _NAMES
    found = ctypes.util.find_library("kestrix")
    if found:
        candidates.append(found)
    errors = []
    for candidate in candidates:
        try:
            handle = loader(candidate)
        except OSError as error:
            errors.append(str(error))
            continue
        _abi.declare(handle)
        return handle
    raise OSError("kestrix: the library was not found (" + "; ".join(errors) + "); "
                  "set KESTRIX_LIBRARY to its path")
