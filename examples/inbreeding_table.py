"""Inbreeding coefficients and Mendelian-sampling variances of a pedigree file.

The file is CSV with the columns animal, sire, dam; an empty parent (or 0) is
unknown, and animals may come in any order. They are renumbered so that
parents come before their offspring, which fcoeff requires.

    python examples/inbreeding_table.py examples/pedigree.csv
"""

import csv
import sys

import numpy as np

import TOLM

UNKNOWN = {"", "0", "NA"}


def read_pedigree(path):
    with open(path, newline="") as f:
        return {row["animal"]: (row["sire"].strip(), row["dam"].strip()) for row in csv.DictReader(f)}


def parents_first(pedigree):
    """Animal names in an order where every parent precedes its offspring."""
    order, state = [], {}

    def visit(animal, path):
        if state.get(animal) == "done":
            return
        if state.get(animal) == "open":
            sys.exit(f"the pedigree has a loop through {animal}: {' -> '.join(path)}")
        state[animal] = "open"
        for parent in pedigree[animal]:
            if parent not in UNKNOWN:
                if parent not in pedigree:
                    sys.exit(f"{animal}: parent {parent} is not in the file")
                visit(parent, path + [parent])
        state[animal] = "done"
        order.append(animal)

    for animal in pedigree:
        visit(animal, [animal])
    return order


def main(path):
    pedigree = read_pedigree(path)
    names = parents_first(pedigree)
    n = len(names)
    number = {name: k for k, name in enumerate(names)}
    code = lambda parent: n if parent in UNKNOWN else number[parent]
    sire = np.array([code(pedigree[name][0]) for name in names], dtype=np.int32)
    dam = np.array([code(pedigree[name][1]) for name in names], dtype=np.int32)
    inbreeding = np.zeros(n + 1)
    inbreeding[n] = -1.0  # the coefficient of an unknown parent
    sampling_var = np.empty(n)

    TOLM.fcoeff(sire, dam, inbreeding, sampling_var,
                np.array([n], dtype=np.int32), np.array([1], dtype=np.int32))

    parent_name = lambda k: "-" if k == n else names[k]
    print(f"{'animal':<10} {'sire':<10} {'dam':<10} {'F':>10} {'sampling var':>13}")
    for k, name in enumerate(names):
        print(f"{name:<10} {parent_name(sire[k]):<10} {parent_name(dam[k]):<10} "
              f"{inbreeding[k]:>10.6f} {sampling_var[k]:>13.6f}")
    inbred = inbreeding[:n] > 0
    print(f"\n{n} animals, {inbred.sum()} inbred, mean F {inbreeding[:n].mean():.6f}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/pedigree.csv")
