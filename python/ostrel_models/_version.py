"""The installed version of the package (the distribution is named ``ostrel``)."""

from __future__ import annotations

from importlib import metadata

try:
    __version__ = metadata.version("ostrel")
except metadata.PackageNotFoundError:     # run from a source tree that is not installed
    __version__ = "0+unknown"
