"""Random pedigrees for comparisons with the oracle."""


def random_pedigree(rng, n, unknown=0.2, selfing=0.0, same_as_previous=0.0,
                    same_as_earlier=0.0, span=None, code=None):
    """Parents numbered below their offspring; an unknown parent is `code` (n by default).

    unknown: chance of each parent being unknown; selfing: chance that the dam
    is the sire; same_as_previous / same_as_earlier: chance of repeating the
    parents of the animal just before / of a random earlier one; span: parents
    come from the `span` animals just before (deep pedigrees).
    """
    missing = n if code is None else code
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

        def parent():
            if i == 0 or rng.random() < unknown:
                return missing
            return int(rng.integers(low, i))

        s = parent()
        d = s if s != missing and rng.random() < selfing else parent()
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
