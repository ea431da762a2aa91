"""The kinds of text that the readers tell apart in a field: the names of
the columns of a header, the codes of an unknown parent, words, numbers
and the spaces around and inside identifiers. Each is written once here,
and where pyarrow looks for it as well, beside its twin in the syntax of
pyarrow's regular expressions (RE2), which must match the same strings."""

from __future__ import annotations

import re
import typing

__all__ = ["LOOKS_UNKNOWN", "NUMBER", "ROLES", "SPACES", "THOUSANDS", "WIDE_SPACE", "WORD", "Twin"]


class Twin(typing.NamedTuple):
    """A kind of text as Python's `re` matches it whole (`fullmatch`), and
    the same strings as pyarrow's ``match_substring_regex`` matches them."""

    python: re.Pattern[str]
    arrow: str


_SUFFIX = r"(?:[ _.-]?(?:id|code|no|nr|number|name|reg|registration))?"

#: The names of the animal, sire, dam and sex columns of a header, in any case.
ROLES = {
    role: re.compile(rf"(?:{names}){_SUFFIX}", re.IGNORECASE)
    for role, names in {
        "animal": "animal|id|ind|individual|calf",
        "sire": "sire|father|male",
        "dam": "dam|mother|female",
        "sex": "sex|gender",
    }.items()
}


def _looks_unknown(mark: str, digit: str) -> str:
    """The codes of an unknown parent, in the syntax whose class of marks
    (neither letter nor number) and of decimal digits are given."""
    minus = "[-\u2010-\u2015\u2212\ufe63\uff0d]"
    core = (
        f"0+(?:{mark}+0+)*|nan|null|none|nil|unknown|unk|missing|blank|empty"
        f"|n{mark}*a|n{mark}+n|[a-z]{{1,8}}{mark}*0{{10,}}"
    )
    return f"{minus}{digit}+(?:\\.{digit}*)?|{mark}*(?:{core})?{mark}*|{mark}+n{mark}*|#[a-z/0]+[!?]?"


#: How exports write a missing parent: such a parent that is not listed as an
#: animal is far more likely a code than a founder. Marks alone; zeros, a
#: word of absence (nan, N/A, N.N.) or a database's NULL (\N), marks around
#: them ('0', <NA>, (none), 00/00/0000); letters then ten zeros or more, as
#: a national number of no animal (DEU000000000000; fewer zeros are more
#: likely the first number of a counter, HOL000000000); a spreadsheet's error
#: value (#N/A, #NV, #REF!); a negative number, with any minus sign.
LOOKS_UNKNOWN = Twin(
    re.compile(_looks_unknown(r"[\W_]", r"\d"), re.IGNORECASE),
    "(?i)^(?:" + _looks_unknown(r"[^\pL\pN]", r"\p{Nd}") + ")$",
)

#: A word of a header, such as sire_reg or parent1; identifiers hold digits
#: or are names. Python's letters, [^\W\d_], are also the other numbers
#: (Nl, No: Ⅻ, ²), and its digits, \d, all the decimal digits (Nd).
WORD = Twin(
    re.compile(r"[^\W\d_]+(?:[ _.-]?[^\W\d_]+)*\d?"), r"^[\pL\p{Nl}\p{No}]+(?:[ _.-]?[\pL\p{Nl}\p{No}]+)*\p{Nd}?$"
)

#: A number as spreadsheets write it, where two animals may become one (with
#: a decimal point or comma); the group holds it without its leading zeros.
NUMBER = Twin(re.compile(r"0*(\d+)(?:[.,]0*)?"), r"^\p{Nd}+(?:[.,]0*)?$")
#: A number in groups of three digits, as the locales of spreadsheets write
#: thousands (3,000, 3.000, 3'000, 3 000).
THOUSANDS = re.compile(r"\d{1,3}(?:[.,'\u00a0\u202f ]\d{3})+")

#: Spaces trimmed around every field, whatever the file: the Unicode spaces
#: and the invisible ones that editors leave.
SPACES = (
    " \t\u00a0\u1680\u180e\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a\u200b"
    "\u202f\u205f\u2060\u3000"
)

#: Any of them but the plain space and the tab; its text serves pyarrow as it is.
WIDE_SPACE = re.compile(f"[{SPACES[2:]}]")
