"""Slow, literal transcriptions of the module's algorithms, step by step.

Python floats are IEEE-754 doubles and every operation below is rounded on its
own, grouped as the algorithms group it, so the module must match these
results bit for bit. Arguments are plain lists, changed in place like the
module's arrays.
"""

from tolmkit import MISSING_PARENT


def fcoeff(sire, dam, inbreeding, sampling_var, n, compute_inbreeding):
    """Inbreeding coefficients and Mendelian-sampling variances; unknown parent = n."""
    if n < 0 or n >= 2**30:
        raise MemoryError("scratch of a negative or too large size")
    ancestors = [None] * (2 * n)  # an append beyond 2n raises IndexError
    contribution = [0.0] * n
    for i in range(n):
        sampling_var[i] = 0.5 - (inbreeding[sire[i]] + inbreeding[dam[i]]) * 0.25
        if compute_inbreeding != 1:
            continue
        if i > 0 and sire[i] == sire[i - 1] and dam[i] == dam[i - 1]:
            inbreeding[i] = inbreeding[i - 1]
            continue
        contribution[i] = 1.0
        used = 0
        total = 0.0
        c = i
        while c >= 0:
            if dam[c] != n:
                ancestors[used] = float(dam[c])
                used += 1
                contribution[dam[c]] = (contribution[c] * 0.5) + contribution[dam[c]]
            if sire[c] != n:
                ancestors[used] = float(sire[c])
                used += 1
                contribution[sire[c]] = (contribution[c] * 0.5) + contribution[sire[c]]
            total = total + (contribution[c] * contribution[c]) * sampling_var[c]
            candidate = -1.0
            for k in range(used):
                if ancestors[k] > candidate:
                    candidate = ancestors[k]
            for k in range(used):
                if ancestors[k] == candidate:
                    ancestors[k] = ancestors[k] - n
            c = int(candidate)
        inbreeding[i] = total - 1.0
        for k in range(i + 1):
            contribution[k] = 0.0


def lower_csr_lookup(a_rowstart, a_col, a_val, x, y):
    """Element (max(x, y), min(x, y)) of the lower-triangle CSR matrix, 0.0 if not stored."""
    r = max(x, y)
    c = min(x, y)
    lo = a_rowstart[r]
    count = a_rowstart[r + 1] - lo - 1
    if count < 0:  # a row with no stored element
        return 0.0
    while count > 0:
        half = count // 2
        mid = lo + half
        if a_col[mid] < c:
            lo = mid + 1
            count = count - half - 1
        else:
            count = half
    return a_val[lo] if a_col[lo] == c else 0.0


def _dominance(a_col, a_rowstart, a_val, s_x, d_x, s_y, d_y):
    p = lower_csr_lookup(a_rowstart, a_col, a_val, s_x, d_y)
    q = lower_csr_lookup(a_rowstart, a_col, a_val, s_x, s_y)
    r = lower_csr_lookup(a_rowstart, a_col, a_val, d_x, s_y)
    t = lower_csr_lookup(a_rowstart, a_col, a_val, d_x, d_y)
    return t * q + r * p


def cald(sire, dam, a_col, a_rowstart, a_val, n, d_val, d_col, d_rowstart, d_count):
    """Dominance matrix in the pattern of the relationship matrix; d_count is a one-element list."""
    if n <= 0:
        return
    for i in range(n):
        d_rowstart[i] = d_count[0]
        s_i, d_i = sire[i], dam[i]
        if s_i == MISSING_PARENT or d_i == MISSING_PARENT:
            continue
        for k in range(a_rowstart[i], a_rowstart[i + 1]):
            j = a_col[k]
            if j == i:
                continue
            s_j, d_j = sire[j], dam[j]
            if s_j == MISSING_PARENT or d_j == MISSING_PARENT:
                continue
            v = _dominance(a_col, a_rowstart, a_val, s_i, d_i, s_j, d_j)
            if v == 0.0:
                continue
            d_val[d_count[0]] = v
            d_col[d_count[0]] = j
            d_count[0] += 1


def dijp(sire, dam, n_pairs, pair_i, pair_j, a_col, a_rowstart, a_val, d_pair):
    """Dominance relationships of the listed pairs."""
    if n_pairs <= 0:
        return
    for k in range(n_pairs):
        x = pair_i[k]
        s_x, d_x = sire[x], dam[x]
        if s_x == MISSING_PARENT or d_x == MISSING_PARENT:
            continue
        y = pair_j[k]
        if y == x:
            continue
        s_y, d_y = sire[y], dam[y]
        if s_y == MISSING_PARENT or d_y == MISSING_PARENT:
            continue
        v = _dominance(a_col, a_rowstart, a_val, s_x, d_x, s_y, d_y)
        if v == 0.0:
            continue
        d_pair[k] = v


def marginal_ancestors(layers, weight, eligible, most, enough):
    """Ancestors taken one at a time by their marginal contributions
    (Boichard, Maignel and Verrier 1997), each choice followed by a whole
    layered pass up (contributions, nothing passed beyond an ancestor taken)
    and one down (the shares of the ancestors taken). Arrays by animal
    number; returns the contributions, the ancestors in the order taken,
    their q and Σ q."""
    import numpy as np

    def up(taken):
        share = np.append(weight[layers.order], 0.0)
        layers.up(share, stop=taken[layers.order])
        return share[layers.rank]

    def down(taken):
        fixed = taken[layers.order]
        share = np.append(fixed.astype(np.float64), 0.0)
        layers.down(share, fixed=fixed)
        return share[layers.rank]

    taken = np.zeros(len(weight), dtype=bool)
    contribution = up(taken)
    order, marginal, explained = [], [], 0.0
    candidate = np.where(eligible, contribution, 0.0)
    while len(order) < most and explained < enough:
        k = int(np.argmax(candidate))
        if candidate[k] <= 0.0:
            break
        marginal.append(float(candidate[k]))
        explained += float(candidate[k])
        order.append(k)
        taken[k] = True
        candidate = np.where(eligible, up(taken) * (1.0 - down(taken)), 0.0)
    return contribution, order, marginal, explained
