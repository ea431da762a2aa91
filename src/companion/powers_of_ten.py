"""Writes powers_of_ten.inc, the constants of shortest.cpp, to the standard
output, after proving with exact integers that they serve every double:

    python src/companion/powers_of_ten.py > src/companion/powers_of_ten.inc

A value c * 2^q is scaled by 10^-k as a 64-bit integer times g, a 128-bit
integer no smaller than 10^-k * 2^(127 - r), r = floor(-k log2 10), keeping
the top 64 bits and whether the next FRACTION_BITS are not all zero (rounding
to odd).
"""

from fractions import Fraction

LOWEST_Q = -1074  # subnormals and the least normal binade: c * 2^-1074
HIGHEST_Q = 971  # (2^53 - 1) * 2^971, the largest finite
SCALED_BELOW = 2**55  # bounds times 4 (4c - 2, 4c + 2, 4c - 1), all below 2^55
FRACTION_BITS = 67  # between the error of g and the least fraction of a product

# floor(q log10 2), floor(q log10 2 + log10 3/4) and floor(b log2 10), as (x * M + A) >> S.
LOG10_2 = (315653, 0, 20)
LOG10_2_THREE_QUARTERS = (315653, -131008, 20)
LOG2_10 = (1741647, 0, 19)


def floor_log(x, base):
    """The largest k with base^k <= x, for a positive Fraction x."""
    k = x.numerator.bit_length() - x.denominator.bit_length()
    k = k * 3 // 10 if base == 10 else k
    while Fraction(base) ** k > x:
        k -= 1
    while Fraction(base) ** (k + 1) <= x:
        k += 1
    return k


def shortcut(constants, x):
    multiplier, added, shift = constants
    return (x * multiplier + added) >> shift


def nearest_integer_distance(alpha, below):
    """The least nonzero distance from m * alpha to an integer for 0 < m < below:
    that of the last convergent of alpha whose denominator is below both
    `below` and alpha's denominator (None if alpha is an integer)."""
    if alpha.denominator == 1:
        return None
    limit = min(below, alpha.denominator)
    rest, denominator, previous = alpha, 1, 0
    best = None
    while denominator < limit:
        distance = denominator * alpha % 1
        best = min(distance, 1 - distance)
        whole = rest.numerator // rest.denominator
        rest = rest - whole
        if rest == 0:
            break
        rest = 1 / rest
        denominator, previous = (rest.numerator // rest.denominator) * denominator + previous, denominator
    return best


def used_powers():
    """(q, k, the largest scaled bound) for every exponent: k for the interval
    around c * 2^q, and, where the lower neighbour is closer (c = 2^52 above the
    least normal binade), k for that interval."""
    for q in range(LOWEST_Q, HIGHEST_Q + 1):
        k = floor_log(Fraction(2) ** q, 10)
        assert shortcut(LOG10_2, q) == k
        yield q, k, SCALED_BELOW
        if q > LOWEST_Q:
            k = floor_log(Fraction(3, 4) * Fraction(2) ** q, 10)
            assert shortcut(LOG10_2_THREE_QUARTERS, q) == k
            yield q, k, 2**54 + 3


def powers():
    """g for each k, and a proof that rounding cb * 2^t * g / 2^128 to odd,
    with t = q + r + 1 in 1..4, rounds cb * 2^q * 10^-k to odd: the error is
    below 2^-FRACTION_BITS and every non-integer product lies further than
    that and than the error from an integer, so neither the integer part nor
    whether there is a fraction changes."""
    table = {}
    for q, k, below in used_powers():
        r = floor_log(Fraction(10) ** -k, 2)
        assert shortcut(LOG2_10, -k) == r
        exact = Fraction(10) ** -k * Fraction(2) ** (127 - r)
        g = -(-exact.numerator // exact.denominator)
        assert 2**127 <= g < 2**128
        table[k] = g
        t = q + r + 1
        assert 1 <= t <= 4 and below << t <= 2**64
        error = (below << t) * (g - exact) / 2**128
        distance = nearest_integer_distance(Fraction(2) ** q * Fraction(10) ** -k, below)
        least = Fraction(1, 2**FRACTION_BITS)
        assert error < least and (distance is None or (distance >= least and error < distance))
    lowest = min(table)
    assert sorted(table) == list(range(lowest, max(table) + 1))
    return lowest, [table[k] for k in sorted(table)]


def text():
    lowest, gs = powers()
    lines = ["// Written by powers_of_ten.py, which proves them sufficient; not edited by hand.",
             "// floor(q log10 2), floor(q log10 2 + log10 3/4) and floor(b log2 10) as (x * M + A) >> S."]
    for name, (multiplier, added, shift) in [("kLog10Two", LOG10_2), ("kLog10TwoThreeQuarters", LOG10_2_THREE_QUARTERS),
                                             ("kLog2Ten", LOG2_10)]:
        lines.append(f"constexpr Shortcut {name} = {{{multiplier}, {added}, {shift}}};")
    lines.append(f"constexpr int kFractionBits = {FRACTION_BITS};")
    lines.append(f"constexpr int kLowestPower = {lowest};")
    lines.append(f"// g for k = kLowestPower, kLowestPower + 1, ...: the 64 high bits, then the 64 low.")
    lines.append(f"constexpr std::uint64_t kPowers[{len(gs)}][2] = {{")
    lines.extend(f"    {{0x{g >> 64:016x}, 0x{g & (2**64 - 1):016x}}}," for g in gs)
    lines.append("};")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    print(text(), end="")
