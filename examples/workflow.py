"""From a pedigree file to inbreeding, relationships and the trend of a breed.

    python examples/workflow.py examples/herd.csv [--top 10] [--by birth_year] [--plot trend.png]
        [--report report.html] [--chart ancestors.png]

Reads the pedigree (animal, sire, dam and any further columns), prints the
most inbred animals, summary figures of the kinship and dominance matrices
and the relationships of a few kinds of relatives, then the population
figures of the youngest cohort (effective population size, effective
numbers of founders and ancestors) and the figures by cohort, and draws mean
F and mean ΔF by cohort, the ancestors of the most inbred animal, and the
report of every figure as one HTML page.
"""

from __future__ import annotations

import argparse

import numpy as np
import scipy.sparse as sp
from numpy.typing import NDArray

import tolmkit


def print_most_inbred(
    pedigree: tolmkit.Pedigree, f: NDArray[np.float64], sampling_var: NDArray[np.float64], top: int
) -> None:
    def name(k: int) -> str:
        return "-" if k < 0 else str(pedigree.ids[k])

    print(f"\nThe {top} most inbred animals")
    print(f"{'animal':<13} {'sire':<13} {'dam':<13} {'F':>9} {'sampling var':>13}")
    for k in np.argsort(-f, kind="stable")[:top]:
        print(
            f"{name(k):<13} {name(pedigree.sire[k]):<13} {name(pedigree.dam[k]):<13} "
            f"{f[k]:>9.5f} {sampling_var[k]:>13.5f}"
        )
    inbred = f > 0
    print(
        f"\n{len(f):,} animals, {np.count_nonzero(inbred):,} inbred ({inbred.mean():.1%}); "
        f"mean F {f.mean():.5f}, among the inbred {f[inbred].mean() if inbred.any() else 0:.5f}, "
        f"largest {f.max():.5f}"
    )


def print_matrix(title: str, matrix: sp.csr_matrix) -> None:
    """Figures of the elements off the diagonal of a lower-triangle matrix."""
    n = matrix.shape[0]
    rows = np.repeat(np.arange(n), np.diff(matrix.indptr))
    values = matrix.data[rows != matrix.indices]
    megabytes = (matrix.data.nbytes + matrix.indices.nbytes + matrix.indptr.nbytes) / 2**20
    print(
        f"{title}: {len(values):,} pairs stored ({len(values) / (n * (n - 1) / 2):.1%} of all "
        f"pairs, {megabytes:.1f} MiB); mean {values.mean():.5f}, largest {values.max():.5f}"
    )


def example_pairs(pedigree: tolmkit.Pedigree) -> dict[str, tuple[int, int]]:
    """One pair each of full sibs, paternal half sibs and parent and offspring."""
    both = np.flatnonzero((pedigree.sire >= 0) & (pedigree.dam >= 0))
    pairs: dict[str, tuple[int, int]] = {}
    by_parents: dict[tuple[int, int], int] = {}
    by_sire: dict[int, int] = {}
    for k in both:
        s, d = int(pedigree.sire[k]), int(pedigree.dam[k])
        if (s, d) in by_parents:
            pairs.setdefault("full sibs", (by_parents[(s, d)], int(k)))
        elif s in by_sire and pedigree.dam[by_sire[s]] != d:
            pairs.setdefault("paternal half sibs", (by_sire[s], int(k)))
        by_parents.setdefault((s, d), int(k))
        by_sire.setdefault(s, int(k))
        if pedigree.sire[s] >= 0 and pedigree.dam[s] >= 0:
            pairs.setdefault("sire and calf", (s, int(k)))
    return pairs


def print_pairs(pedigree: tolmkit.Pedigree, kinship: sp.csr_matrix) -> None:
    pairs = example_pairs(pedigree)
    first = [str(pedigree.ids[x]) for x, _ in pairs.values()]
    second = [str(pedigree.ids[y]) for _, y in pairs.values()]
    dominance = tolmkit.dominance_pairs(pedigree, first, second, relationships=kinship)
    print(f"\n{'pair':<20} {'animals':<27} {'kinship':>9} {'dominance':>10}")
    for (kind, (x, y)), a, b, d in zip(pairs.items(), first, second, dominance):
        print(f"{kind:<20} {a + ' ' + b:<27} {kinship[max(x, y), min(x, y)]:>9.5f} {d:>10.5f}")


def print_population(
    pedigree: tolmkit.Pedigree, by: str, plot: str | None, report: str | None, chart: str | None
) -> None:
    """The figures of the youngest cohort and of every cohort, their pictures and their report."""
    table = tolmkit.pedigree_statistics(pedigree)
    cohort = tolmkit.cohorts(table[by])
    youngest = cohort.max()
    reference = table.index[cohort == youngest].tolist()
    effective = tolmkit.effective_population_size(pedigree, reference)
    founders = tolmkit.founder_statistics(pedigree, reference)
    coancestry = tolmkit.effective_population_size(pedigree, reference, method="coancestry")
    print(
        f"\nThe {len(reference):,} animals of {by} {youngest:g}: Ne {effective.ne:.1f} ± {effective.se:.1f} "
        f"(by coancestry {coancestry.ne:.1f}), effective founders f_e {founders.founders_effective:.1f} "
        f"(of {founders.founders:,}), effective ancestors f_a {founders.ancestors_effective:.1f}, founder "
        f"genome equivalents f_g {founders.founder_genome_equivalents:.1f}"
    )
    summary = tolmkit.summary_by(pedigree, by)
    print(f"\n{summary.to_string(float_format=lambda v: f'{v:.4g}')}")
    if plot:
        from tolmkit.plots import plot_trend

        name = by.replace("_", " ")
        plot_trend(
            summary,
            plot,
            title=f"Inbreeding by {name} (reference: {name} {youngest:g})",
            effective=effective,
            founders=founders,
        )
        print(f"\nInbreeding by {by}: {plot}")
    if chart:
        from tolmkit.plots import plot_ancestry

        most_inbred = str(table["inbreeding"].idxmax())
        plot_ancestry(pedigree, most_inbred, chart)
        print(f"The ancestors of {most_inbred}: {chart}")
    if report:
        from tolmkit.report import write_report

        write_report(
            pedigree,
            reference,
            report,
            by=by,
            title=f"The demo herd: {len(pedigree):,} animals",
            reference_label=f"the calves of {by} {youngest:g}",
        )
        print(f"Report: {report}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0] if __doc__ else None)
    parser.add_argument("pedigree")
    parser.add_argument("--top", type=int, default=10)
    parser.add_argument("--by", default="birth_year", help="the column of the cohorts (default: birth_year)")
    parser.add_argument("--plot", help="PNG file for mean F and mean ΔF by cohort")
    parser.add_argument("--report", help="HTML file for the report of every figure")
    parser.add_argument("--chart", help="PNG or SVG file for the ancestors of the most inbred animal")
    args = parser.parse_args()

    pedigree = tolmkit.read_pedigree(args.pedigree)
    print(f"{args.pedigree}: {pedigree!r}, numbered parents first")

    f, sampling_var = tolmkit.inbreeding(pedigree)
    print_most_inbred(pedigree, f, sampling_var, args.top)

    print()
    kinship = tolmkit.relationship_matrix(pedigree, kinship=True, lower=True)
    print_matrix("Kinship matrix", kinship)
    print_matrix("Dominance matrix", tolmkit.dominance_matrix(pedigree, relationships=kinship, lower=True))
    print_pairs(pedigree, kinship)

    print_population(pedigree, args.by, args.plot, args.report, args.chart)


if __name__ == "__main__":
    main()
