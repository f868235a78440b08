"""Finding and loading libtesqsrch, and the ctypes signatures of its exports.

The library is looked for, in order: where TESQ_LIBRARY names it (the file
itself, or a directory holding it); the build tree this package was
installed from (recorded at install) or that it sits in (python/ beside
build/); an installed prefix (TESQ_PREFIX, this Python's prefix, /usr/local,
/usr); and last the dynamic loader's own search. The first file that exists
is loaded; one that exists but does not load is an error, never skipped,
so a broken build is not silently replaced by some other copy.
"""
import ctypes
import os
import sys
import sysconfig

LIBRARY_NAME = "libtesqsrch.so.0"


class LibraryNotFoundError(OSError):
    """libtesqsrch could not be found or loaded; the message lists where it looked."""


def _recorded_build_tree():
    try:
        from . import _build_tree  # written by setup.py at install
    except ImportError:
        return None
    return getattr(_build_tree, "BUILD_DIR", None)


def candidates():
    """The paths tried, in order, as (path, how it was chosen)."""
    out = []
    named = os.environ.get("TESQ_LIBRARY")
    if named:
        path = os.path.join(named, LIBRARY_NAME) if os.path.isdir(named) else named
        out.append((path, "TESQ_LIBRARY"))
        return out  # a named library is the one wanted: no other is tried
    here = os.path.dirname(os.path.abspath(__file__))
    trees = []
    recorded = _recorded_build_tree()
    if recorded:
        trees.append((recorded, "the build tree recorded at install"))
    trees.append((os.path.join(here, "..", "..", "build"), "the build tree beside the package"))
    for tree, how in trees:
        out.append((os.path.normpath(os.path.join(tree, "src", LIBRARY_NAME)), how))
    prefixes = []
    if os.environ.get("TESQ_PREFIX"):
        prefixes.append(os.environ["TESQ_PREFIX"])
    prefixes += [sys.prefix, "/usr/local", "/usr"]
    multiarch = sysconfig.get_config_var("MULTIARCH")
    for prefix in prefixes:
        for lib in ("lib", "lib64") + ((f"lib/{multiarch}",) if multiarch else ()):
            out.append((os.path.join(prefix, lib, LIBRARY_NAME), "an installed prefix"))
    return out


def _declare(lib):
    c_char_p, c_int32, c_int16 = ctypes.c_char_p, ctypes.c_int32, ctypes.c_int16
    p_u32 = ctypes.POINTER(ctypes.c_uint32)
    lib.Tesquin_Init.argtypes = [c_int32]
    lib.Tesquin_Init.restype = c_int32
    lib.Tesquin_UnInit.argtypes = []
    lib.Tesquin_UnInit.restype = c_int32
    lib.Tesquin_Search.argtypes = [c_char_p, ctypes.c_char_p, p_u32]
    lib.Tesquin_Search.restype = c_int32
    lib.Tesquin_Search_Singleword.argtypes = [c_char_p, ctypes.c_char_p, p_u32]
    lib.Tesquin_Search_Singleword.restype = c_int32
    lib.Tesquin_Search_Essay.argtypes = [c_char_p, ctypes.POINTER(c_int32), c_int32, c_int32, c_int32,
                                         ctypes.POINTER(c_int16)]
    lib.Tesquin_Search_Essay.restype = c_int32
    # The dictionary service, loaded with the library, keeps the reason of
    # the last failed load (which file, and why).
    try:
        lib.Dict_Last_Error.argtypes = []
        lib.Dict_Last_Error.restype = ctypes.c_char_p
    except AttributeError:
        pass
    return lib


def load():
    """Loads the library; raises LibraryNotFoundError saying where it looked."""
    looked = []
    for path, how in candidates():
        if not os.path.exists(path):
            looked.append(f"{path} ({how}): no such file")
            continue
        try:
            return _declare(ctypes.CDLL(path)), path
        except (OSError, AttributeError) as error:
            raise LibraryNotFoundError(f"cannot load {path} ({how}): {error}") from None
    if not os.environ.get("TESQ_LIBRARY"):
        try:
            return _declare(ctypes.CDLL(LIBRARY_NAME)), LIBRARY_NAME
        except (OSError, AttributeError) as error:
            looked.append(f"{LIBRARY_NAME} (the dynamic loader's search path): {error}")
    raise LibraryNotFoundError("libtesqsrch not found; looked in:\n  " + "\n  ".join(looked) +
                               "\nset TESQ_LIBRARY to the library file or its directory")
