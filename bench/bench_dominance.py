"""cald and dijp on the relationship matrices of pedigrees of several shapes:
the module's build, builds with one speed mechanism switched off, the plain
build with all of them off, and the literal lookup, timed in turns.

    .venv/bin/python bench/bench_dominance.py --builds build/bench --mechanisms "CALD_MEMO ..."
        [--animals N] [--pairs N] [--runs R] [--cald-runs R] [--shapes a,b] [--routines cald,dijp]

--builds holds one benchmark build per variant (dominance-none for the
module's, dominance-<MECHANISM> with that mechanism off, dominance-all), each
with the C entry points that run the check and then the kernel, as the module
does. Times are per candidate pair (a stored off-diagonal element whose two
animals both have both parents) for cald, and per random pair for dijp; each
variant runs once per round, in a rotating order (the literal cald in the
first round only), and every result is checked against the literal
transcription's bits. The relationship matrices come from the tabular method. A mechanism's cost is the median over
rounds of the time without it over the module's time in the same round.
"""

import argparse
import ctypes
import sys
import time

import numpy as np

from common import load_literal, pointers, relationship_lower_csr, scalar
from shapes import MISSING, for_dominance, generate

# Shapes of bench/shapes.py, each at its own number of generations.
DOMINANCE_SHAPES = ["dairy", "few-sires-8", "many-sires", "random-mating", "closed-100", "selfing"]


def candidate_pairs(sire, dam, rowstart, col):
    both = (sire != MISSING) & (dam != MISSING)
    rows = np.repeat(np.arange(len(sire)), np.diff(rowstart))
    return int(np.count_nonzero(both[rows] & both[col] & (rows != col)))


class Entry:
    """One routine of one build: a C call over numpy arrays."""

    def __init__(self, function, checked):
        self.function = function
        self.checked = checked

    def __call__(self, *arrays):
        if self.checked:
            data = (ctypes.c_void_p * len(arrays))(*(a.ctypes.data for a in arrays))
            lengths = (ctypes.c_int64 * len(arrays))(*(len(a) for a in arrays))
            if self.function(data, lengths) != 0:
                sys.exit("the check refused a benchmark call")
        else:
            self.function(*pointers(*arrays))


def load_builds(folder, mechanisms):
    """Variant name -> (its two routines, the mechanisms it switches off:
    None, one name or "all"); the literal transcription first."""
    literal = load_literal()
    builds = {
        "literal": ({"cald": Entry(literal.literal_cald, False), "dijp": Entry(literal.literal_dijp, False)}, None)
    }
    for name, plain in [("module", "none"), *[(f"no {m}", m) for m in mechanisms], ("plain", "all")]:
        library = ctypes.CDLL(f"{folder}/dominance-{plain}/bench/libtolm_dominance_calls.so")
        builds[name] = (
            {"cald": Entry(library.bench_cald, True), "dijp": Entry(library.bench_dijp, True)},
            None if plain == "none" else plain,
        )
    return builds


def cald_call(sire, dam, rowstart, col, val):
    n, stored = len(sire), len(col)

    def prepare():
        # Outputs written before the call, so that no build pays for their first touch.
        return (
            sire,
            dam,
            col,
            rowstart,
            val,
            scalar(n),
            np.full(stored, -1.0),
            np.full(stored, -1, np.int32),
            np.full(n, -1, np.int32),
            np.zeros(1, np.int32),
        )

    def result(arguments):
        count = arguments[9][0]
        return [arguments[9], arguments[6][:count].view(np.int64), arguments[7][:count], arguments[8]]

    return prepare, result


def dijp_call(sire, dam, rowstart, col, val, pairs, rng):
    n = len(sire)
    pair_i = rng.integers(0, n, pairs).astype(np.int32)
    pair_j = rng.integers(0, n, pairs).astype(np.int32)

    def prepare():
        return sire, dam, scalar(pairs), pair_i, pair_j, col, rowstart, val, np.full(pairs, 0.0)

    return prepare, lambda arguments: [arguments[8].view(np.int64)]


def time_in_turns(builds, routine, prepare, result, runs, once=()):
    """Seconds of each build in each round (of the builds named in `once`, in
    the first round only), in CPU time, which a machine shared with other work
    disturbs less than the wall clock; every result is checked against the
    first build's."""
    names = list(builds)
    seconds = {name: [] for name in names}
    expected = None
    for round_ in range(runs):
        shift = round_ % len(names)
        for name in names[shift:] + names[:shift]:
            if round_ > 0 and name in once:
                continue
            arguments = prepare()
            start = time.process_time()
            builds[name][0][routine](*arguments)
            seconds[name].append(time.process_time() - start)
            if round_ == 0:
                if expected is None:
                    expected = result(arguments)
                elif any(not np.array_equal(a, b) for a, b in zip(result(arguments), expected)):
                    sys.exit(f"{routine}: build '{name}' gives other bits than the literal lookup")
            del arguments
    return seconds


def report(routine, seconds, per):
    module = np.array(seconds["module"])
    literal = np.median(seconds["literal"])
    for name, runs in seconds.items():
        runs = np.array(runs)
        median = np.median(runs)
        line = (
            f"  {routine:5} {name:20} {median / per * 1e9:8.1f} ns "
            f"±{(runs.max() - runs.min()) / 2 / median * 100:3.0f} %"
        )
        if name != "literal":
            line += f"  {literal / median:5.2f}× literal"
        if name.startswith("no "):
            ratio = runs / module
            line += f"  without it {np.median(ratio):5.2f}× the module's time [{ratio.min():.2f}, {ratio.max():.2f}]"
        print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--builds", required=True)
    parser.add_argument("--mechanisms", required=True, help="names separated by spaces")
    parser.add_argument("--animals", type=int, default=8_000)
    parser.add_argument("--pairs", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=5, help="rounds of dijp")
    parser.add_argument("--cald-runs", type=int, default=3, help="rounds of cald, whose calls take seconds")
    parser.add_argument("--shapes", default=",".join(DOMINANCE_SHAPES))
    parser.add_argument("--routines", default="cald,dijp")
    args = parser.parse_args()
    mechanisms = args.mechanisms.split()
    every = load_builds(args.builds, mechanisms)
    rng = np.random.default_rng(7)
    print("ns per candidate pair (cald) or per pair (dijp): median of the rounds, ± half their range")
    for shape in args.shapes.split(","):
        sire, dam = for_dominance(*generate(shape, args.animals))
        rowstart, col, val = relationship_lower_csr(sire, dam)
        candidates = candidate_pairs(sire, dam, rowstart, col)
        print(f"{shape}: {args.animals:,} animals, {len(col):,} stored, {candidates:,} candidates", flush=True)
        # The literal cald takes seconds and only sets the scale: one round.
        for routine, call, per, runs, once, concerns in [
            ("cald", cald_call(sire, dam, rowstart, col, val), candidates, args.cald_runs, ("literal",), ("CALD_",)),
            (
                "dijp",
                dijp_call(sire, dam, rowstart, col, val, args.pairs, rng),
                args.pairs,
                args.runs,
                (),
                ("DIJP_", "LOOKUP_", "all"),
            ),
        ]:
            if routine not in args.routines.split(","):
                continue
            builds = {name: b for name, b in every.items() if b[1] is None or b[1].startswith(concerns)}
            report(routine, time_in_turns(builds, routine, *call, runs, once), per)
        del rowstart, col, val


if __name__ == "__main__":
    main()
