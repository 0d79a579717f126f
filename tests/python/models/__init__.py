"""Tests of the modelling layer (a package, so that its conftest does not shadow the parent one)."""
