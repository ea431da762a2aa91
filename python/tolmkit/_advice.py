"""Refusals whose advice names what to pass in the caller's own form: as
Python arguments (``unknown='-999'``) from Python, as options of the
``tolmkit`` command (``--unknown=-999``) on the command line; and the
errors that carry them."""

from __future__ import annotations

import shlex
import typing

__all__ = ["Option", "PedigreeError", "Refusal", "argument", "option", "refused"]


class Refusal(ValueError):
    """An input that cannot be used as it stands, with advice in both forms.

    The message gives its advice as Python arguments (``unknown='-999'``);
    `command_line` holds the same message with the options of the
    ``tolmkit`` command instead (``--unknown=-999``).
    """

    def __init__(self, message: str, command_line: str | None = None) -> None:
        super().__init__(message)
        self.command_line = message if command_line is None else command_line


class PedigreeError(Refusal):
    """A pedigree that cannot be used as it stands; the message names the
    line, and gives its advice in both forms, as every `Refusal` does."""


class Option(typing.NamedTuple):
    """An argument of advice, as Python and as the command line write it."""

    python: str
    command_line: str


def argument(name: str) -> Option:
    """The argument `name` itself, without a value, in both forms."""
    return Option(name, "--" + name.replace("_", "-"))


def option(name: str, value: object) -> Option:
    """The argument `name` given `value`, in both forms."""
    flag = argument(name).command_line
    if value is True:
        return Option(f"{name}=True", flag)
    if value is False:
        return Option(f"{name}=False", f"--no-{name.replace('_', '-')}")
    if isinstance(value, (list, tuple)):
        return Option(f"{name}={value!r}", f"{flag}={shlex.quote(','.join(map(str, value)))}")
    return Option(f"{name}={value!r}", f"{flag}={shlex.quote(str(value))}")


def refused(*parts: str | Option) -> PedigreeError:
    """A refusal whose advice reads as Python arguments, and as options in `command_line`."""
    return PedigreeError(
        "".join(part if isinstance(part, str) else part.python for part in parts),
        "".join(part if isinstance(part, str) else part.command_line for part in parts),
    )
