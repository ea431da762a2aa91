"""Random pedigrees and relationship matrices for comparisons with the
oracle; pedigrees read from files, as their parents by identifier."""

import re

import numpy as np
import pytest

from tolmkit import MISSING_PARENT, Pedigree, inbreeding, read_pedigree

# A file's parents by identifier: A a founder, B its offspring of an unknown dam.
A_B = {"A": (None, None), "B": ("A", None)}


def random_pedigree(rng, n, unknown=0.2, selfing=0.0, same_as_previous=0.0, same_as_earlier=0.0, span=None, code=None):
    """Parents numbered below their offspring; an unknown parent is `code` (n by default).

    unknown: chance of each parent being unknown; selfing: chance that the dam
    is the sire; same_as_previous / same_as_earlier: chance of repeating the
    parents of the animal just before / of a random earlier one; span: parents
    come from the `span` animals just before (deep pedigrees).
    """
    missing = n if code is None else code

    def parent(i, low):
        if i == 0 or rng.random() < unknown:
            return missing
        return int(rng.integers(low, i))

    sire, dam = [], []
    for i in range(n):
        roll = rng.random()
        if i > 0 and roll < same_as_previous:
            sire.append(sire[-1])
            dam.append(dam[-1])
            continue
        if i > 0 and roll < same_as_previous + same_as_earlier:
            j = int(rng.integers(0, i))
            sire.append(sire[j])
            dam.append(dam[j])
            continue
        low = 0 if span is None else max(0, i - span)
        s = parent(i, low)
        d = s if s != missing and rng.random() < selfing else parent(i, low)
        sire.append(s)
        dam.append(d)
    return sire, dam


def chain(n):
    """Animals 0 and 1 founders; every later animal the offspring of the two before it."""
    sire = [n, n] + list(range(1, n - 1))
    dam = [n, n] + list(range(0, n - 2))
    return sire[:n], dam[:n]


# name: (keyword arguments, largest n)
KINDS = {
    "founders": (dict(unknown=1.0), 40),
    "one_unknown_parent": (dict(unknown=0.35), 120),
    "selfing": (dict(unknown=0.15, selfing=0.4), 120),
    "full_sib_families": (dict(unknown=0.15, same_as_previous=0.5), 120),
    "parents_repeated_apart": (dict(unknown=0.15, same_as_earlier=0.4), 120),
    "deep": (dict(unknown=0.02, span=3), 100),
    "mixed": (dict(unknown=0.1, selfing=0.1, same_as_previous=0.2, same_as_earlier=0.1, span=8), 120),
}


def relationship_matrix(sire, dam, missing, base=None):
    """The additive relationship matrix by the tabular method; parents before
    offspring; the first len(base) animals, if given, founders related by `base`."""
    n = len(sire)
    a = np.zeros((n, n))
    k = 0 if base is None else len(base)
    a[:k, :k] = base if k else a[:k, :k]

    def known(p):
        return p != missing

    for i in range(k, n):
        s, d = sire[i], dam[i]
        for j in range(i):
            a[i, j] = a[j, i] = 0.5 * ((a[j, s] if known(s) else 0.0) + (a[j, d] if known(d) else 0.0))
        a[i, i] = 1.0 + (0.5 * a[s, d] if known(s) and known(d) else 0.0)
    return a


def grouped_pedigree(rng, n, groups, kind="mixed"):
    """A random Pedigree whose unknown parents are each of one of `groups`
    groups, or of none."""
    sire, dam = (np.array(p) for p in random_pedigree(rng, n, code=-1, **KINDS[kind][0]))
    group = [np.where(p < 0, rng.integers(-1, groups, len(p)), -1) for p in (sire, dam)]
    return Pedigree(
        [f"id{k}" for k in range(n)],
        sire,
        dam,
        group_ids=[f"G{k}" for k in range(groups)],
        sire_group=group[0],
        dam_group=group[1],
    )


def quaas(pedigree):
    """Σ q qᵀ / b over the animals, a group of an unknown parent standing in
    q for that parent, b from the known parents and their F."""
    n, f = len(pedigree), inbreeding(pedigree)[0]
    dense = np.zeros((n + len(pedigree.group_ids),) * 2)
    for i in range(n):
        q, b = np.zeros(len(dense)), 1.0
        q[i] = 1.0
        for parent, group in ((pedigree.sire[i], pedigree.sire_group[i]), (pedigree.dam[i], pedigree.dam_group[i])):
            if parent >= 0:
                q[parent] -= 0.5
                b -= 0.25 * (1.0 + f[parent])
            elif group >= 0:
                q[n + group] -= 0.5
        dense += np.outer(q, q) / b
    return dense


def metafounder_matrix(pedigree, gamma):
    """A^Γ of the animals then the metafounders: the metafounders as
    pseudo-founders related by Γ, numbered first for the tabular method."""
    g = len(gamma)

    def code(parent, group):
        return g + parent if parent >= 0 else group if group >= 0 else -1

    sire = [-1] * g + [code(p, q) for p, q in zip(pedigree.sire, pedigree.sire_group)]
    dam = [-1] * g + [code(p, q) for p, q in zip(pedigree.dam, pedigree.dam_group)]
    order = list(range(g, g + len(pedigree))) + list(range(g))
    return relationship_matrix(sire, dam, -1, base=np.asarray(gamma))[np.ix_(order, order)]


def renumbered(sire, dam, a, order, missing):
    """The pedigree and matrix with animal order[k] renamed k: parents need no longer come first."""
    new = {old: k for k, old in enumerate(order)}

    def code(p):
        return missing if p == missing else new[p]

    return ([code(sire[old]) for old in order], [code(dam[old]) for old in order], a[order][:, order])


def lower_csr(dense, stored):
    """CSR arrays of the elements where `stored` (a boolean matrix) is true, row by row."""
    rows, cols = np.nonzero(stored)
    rowstart = np.searchsorted(rows, np.arange(dense.shape[0] + 1)).tolist()
    return cols.tolist(), rowstart, dense[rows, cols].tolist()


def random_dominance_case(rng, pattern):
    """A pedigree coded with -999, renumbered at random, and a matrix built for it."""
    missing = MISSING_PARENT
    n = int(rng.integers(1, 40))
    sire, dam = random_pedigree(
        rng, n, unknown=float(rng.choice([0.05, 0.2, 0.5])), selfing=0.1, same_as_previous=0.2, code=missing
    )
    a = relationship_matrix(sire, dam, missing)
    sire, dam, a = renumbered(sire, dam, a, rng.permutation(n), missing)
    lower = np.tril(np.ones((n, n), dtype=bool))
    if pattern == "kinship":
        stored = lower & (a != 0)
    else:
        stored = lower & (rng.random((n, n)) < 0.6)
        if pattern == "with_upper":
            stored |= ~lower & (rng.random((n, n)) < 0.3)
        a = a.copy()
        a[rng.random((n, n)) < 0.05] = 0.0
        a[rng.random((n, n)) < 0.03] = np.nan
    a_col, a_rowstart, a_val = lower_csr(a, stored)
    if pattern == "unsorted_rows":
        for r in range(n):
            segment = slice(a_rowstart[r], a_rowstart[r + 1])
            order = rng.permutation(a_rowstart[r + 1] - a_rowstart[r])
            a_col[segment] = [a_col[segment][k] for k in order]
            a_val[segment] = [a_val[segment][k] for k in order]
    if pattern == "offset":
        shift = int(rng.integers(1, 5))
        a_col = [0] * shift + a_col
        a_val = [5.0] * shift + a_val
        a_rowstart = [start + shift for start in a_rowstart]
    return sire, dam, a_col, a_rowstart, a_val


# Kinds of matrix for random_dominance_case.
PATTERNS = ["kinship", "random_with_zeros_and_nans", "with_upper", "unsorted_rows", "offset"]


def parents_by_id(pedigree):
    """{identifier: (sire's, dam's)} of every animal, None for an unknown parent."""

    def name(k):
        return None if k < 0 else pedigree.ids[k]

    return {pedigree.ids[k]: (name(pedigree.sire[k]), name(pedigree.dam[k])) for k in range(len(pedigree))}


def assert_parents_first(pedigree):
    numbers = np.arange(len(pedigree))
    assert np.all(pedigree.sire < numbers) and np.all(pedigree.dam < numbers)


def read_or_refused(path, content, options, outcome):
    """Reads `content` written to `path` with `options`: the parents by
    identifier of `outcome`, or its (error, part of the message[, part of
    its command_line]); the file unchanged either way."""
    path.write_bytes(content if isinstance(content, bytes) else content.encode())
    if isinstance(outcome, dict):
        pedigree = read_pedigree(path, **options)
        assert parents_by_id(pedigree) == outcome
        assert_parents_first(pedigree)
    else:
        with pytest.raises(outcome[0], match=re.escape(outcome[1])) as raised:
            read_pedigree(path, **options)
        assert outcome[2:] == () or outcome[2] in raised.value.command_line
    assert path.read_bytes() == (content if isinstance(content, bytes) else content.encode())
