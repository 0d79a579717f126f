"""Accurate radiation kernels and observer-frame emission models of relativistic electrons."""
