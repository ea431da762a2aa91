#include "literal.hpp"

#include <new>
#include <vector>

#include "dominance.hpp"

namespace {

constexpr std::int32_t missing = tolm::MISSING_PARENT;

double dominance(const std::int32_t* a_col, const std::int32_t* a_rowstart, const double* a_val, std::int32_t sx,
                 std::int32_t dx, std::int32_t sy, std::int32_t dy) {
    return literal_lookup(a_rowstart, a_col, a_val, dx, dy) * literal_lookup(a_rowstart, a_col, a_val, sx, sy) +
           literal_lookup(a_rowstart, a_col, a_val, dx, sy) * literal_lookup(a_rowstart, a_col, a_val, sx, dy);
}

}  // namespace

extern "C" {

int literal_fcoeff(const std::int32_t* sire, const std::int32_t* dam, double* inbreeding, double* sampling_var,
                   const std::int32_t* n_animals, const std::int32_t* compute_inbreeding) {
    const std::int32_t n = n_animals[0];
    std::vector<double> list_store, contribution_store;
    try {
        if (n < 0 || n >= (1 << 30)) {
            return -1;
        }
        list_store.resize(2 * static_cast<std::size_t>(n));
        contribution_store.assign(static_cast<std::size_t>(n), 0.0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    double* list = list_store.data();
    double* contribution = contribution_store.data();
    for (std::int32_t i = 0; i < n; ++i) {
        sampling_var[i] = 0.5 - (inbreeding[sire[i]] + inbreeding[dam[i]]) * 0.25;
        if (compute_inbreeding[0] != 1) {
            continue;
        }
        if (i > 0 && sire[i] == sire[i - 1] && dam[i] == dam[i - 1]) {
            inbreeding[i] = inbreeding[i - 1];
            continue;
        }
        contribution[i] = 1.0;
        std::int32_t used = 0;
        double sum = 0.0;
        std::int32_t c = i;
        while (c >= 0) {
            if (dam[c] != n) {
                list[used++] = dam[c];
                contribution[dam[c]] = contribution[c] * 0.5 + contribution[dam[c]];
            }
            if (sire[c] != n) {
                list[used++] = sire[c];
                contribution[sire[c]] = contribution[c] * 0.5 + contribution[sire[c]];
            }
            sum += contribution[c] * contribution[c] * sampling_var[c];
            double candidate = -1.0;
            for (std::int32_t k = 0; k < used; ++k) {
                if (list[k] > candidate) {
                    candidate = list[k];
                }
            }
            for (std::int32_t k = 0; k < used; ++k) {
                if (list[k] == candidate) {
                    list[k] -= n;
                }
            }
            c = static_cast<std::int32_t>(candidate);
        }
        inbreeding[i] = sum - 1.0;
        for (std::int32_t k = 0; k <= i; ++k) {
            contribution[k] = 0.0;
        }
    }
    return 0;
}

long long literal_ancestors_processed(const std::int32_t* sire, const std::int32_t* dam, std::int32_t n) {
    std::vector<std::int32_t> seen_by, stack;
    try {
        seen_by.assign(static_cast<std::size_t>(n), -1);
        stack.reserve(static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    long long total = 0;
    for (std::int32_t i = 0; i < n; ++i) {
        seen_by[static_cast<std::size_t>(i)] = i;
        stack.assign(1, i);
        while (!stack.empty()) {
            const std::int32_t c = stack.back();
            stack.pop_back();
            ++total;
            for (const std::int32_t p : {dam[c], sire[c]}) {
                if (p != n && seen_by[static_cast<std::size_t>(p)] != i) {
                    seen_by[static_cast<std::size_t>(p)] = i;
                    stack.push_back(p);
                }
            }
        }
    }
    return total;
}

double literal_lookup(const std::int32_t* a_rowstart, const std::int32_t* a_col, const double* a_val, std::int32_t x,
                      std::int32_t y) {
    const std::int32_t r = x > y ? x : y;
    const std::int32_t c = x > y ? y : x;
    std::int32_t lo = a_rowstart[r];
    std::int32_t count = a_rowstart[r + 1] - lo - 1;
    if (count < 0) {
        return 0.0;
    }
    while (count > 0) {
        const std::int32_t half = count / 2;
        const std::int32_t mid = lo + half;
        if (a_col[mid] < c) {
            lo = mid + 1;
            count = count - half - 1;
        } else {
            count = half;
        }
    }
    return a_col[lo] == c ? a_val[lo] : 0.0;
}

void literal_cald(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* a_col,
                  const std::int32_t* a_rowstart, const double* a_val, const std::int32_t* n_animals, double* d_val,
                  std::int32_t* d_col, std::int32_t* d_rowstart, std::int32_t* d_count) {
    for (std::int32_t i = 0; i < n_animals[0]; ++i) {
        d_rowstart[i] = d_count[0];
        if (sire[i] == missing || dam[i] == missing) {
            continue;
        }
        for (std::int32_t k = a_rowstart[i]; k < a_rowstart[i + 1]; ++k) {
            const std::int32_t j = a_col[k];
            if (j == i || sire[j] == missing || dam[j] == missing) {
                continue;
            }
            const double v = dominance(a_col, a_rowstart, a_val, sire[i], dam[i], sire[j], dam[j]);
            if (v != 0.0) {
                d_val[d_count[0]] = v;
                d_col[d_count[0]] = j;
                ++d_count[0];
            }
        }
    }
}

void literal_dijp(const std::int32_t* sire, const std::int32_t* dam, const std::int32_t* n_pairs,
                  const std::int32_t* pair_i, const std::int32_t* pair_j, const std::int32_t* a_col,
                  const std::int32_t* a_rowstart, const double* a_val, double* d_pair) {
    for (std::int32_t k = 0; k < n_pairs[0]; ++k) {
        const std::int32_t x = pair_i[k];
        const std::int32_t y = pair_j[k];
        if (sire[x] == missing || dam[x] == missing || x == y || sire[y] == missing || dam[y] == missing) {
            continue;
        }
        const double v = dominance(a_col, a_rowstart, a_val, sire[x], dam[x], sire[y], dam[y]);
        if (v != 0.0) {
            d_pair[k] = v;
        }
    }
}
}
