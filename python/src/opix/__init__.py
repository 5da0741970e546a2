"""opix: demosaic and image filters of the opix SDK on CUDA GPUs and the CPU, for numpy arrays.

The SDK's functions live in the compiled module ``opix._opix`` and are all
available here; ``opix.dask`` (needs dask and distributed) runs files and
giant mosaics on a Dask cluster.
"""

from ._opix import *  # noqa: F401,F403
from ._opix import __version__, Error, FileError, Debayer

# The names under which errors and chains are pickled and shown.
for _kind in (Error, FileError, Debayer):
    _kind.__module__ = "opix"
del _kind
