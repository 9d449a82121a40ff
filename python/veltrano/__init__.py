"""F-transform image compression: the hybrid JPEG codec of ftjpeg on numpy arrays.

The functions live in the extension module veltrano._veltrano; this package
gives them their usual names (veltrano.compress, veltrano.rd, ...) and runs
the study from the command line: python3 -m veltrano rd --help."""

from . import _veltrano
from ._veltrano import *  # noqa: F401,F403 (the module's functions and Scheme)

__doc__ = _veltrano.__doc__
__all__ = [name for name in dir(_veltrano) if not name.startswith("_")]
