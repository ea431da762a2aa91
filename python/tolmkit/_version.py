"""The version of tolmkit (and of the TOLM distribution), which the build reads here."""

__version__ = "0.1.0"
