"""Companion of the TOLM extension module: pedigree preparation and test data."""

from .simulate import simulate_pedigree

__all__ = ["simulate_pedigree"]
