"""Slow, literal transcriptions of the module's algorithms, step by step.

Python floats are IEEE-754 doubles and every operation below is rounded on its
own, grouped as the algorithms group it, so the module must match these
results bit for bit. Arguments are plain lists, changed in place like the
module's arrays.
"""


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
