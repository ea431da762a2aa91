#include "metafounders.hpp"

#include <cstddef>
#include <queue>
#include <utility>
#include <vector>

namespace tolmkit {

namespace {

// A^Γ(p, p) of a parent: 1 + F of an animal, γ_kk of the metafounder of an
// unknown parent of group k (the paper's "inbreeding" of γ_kk − 1), 0 for an
// unknown parent of no group, as in A.
double self_relationship(const GroupedHerd& herd, const std::vector<double>& self, std::int32_t parent,
                         std::int32_t group) {
    if (parent >= 0) {
        return self[static_cast<std::size_t>(parent)];
    }
    return group >= 0 ? herd.gamma[group * herd.g + group] : 0.0;
}

}  // namespace

std::int64_t metafounder_inbreeding(const GroupedHerd& herd, double* inbreeding, double* sampling_var, Pacer& pace) {
    const auto n = static_cast<std::size_t>(herd.n);
    std::vector<double> self(n), contribution(n, 0.0), share(static_cast<std::size_t>(herd.g), 0.0);
    std::vector<char> queued(n, 0), reaches(static_cast<std::size_t>(herd.g), 0);
    std::vector<std::int32_t> reached, groups;
    std::priority_queue<std::int32_t> next;
    for (std::int64_t i = 0; i < herd.n; ++i) {
        const double b = 1.0 - 0.25 * self_relationship(herd, self, herd.sire[i], herd.sire_group[i]) -
                         0.25 * self_relationship(herd, self, herd.dam[i], herd.dam_group[i]);
        sampling_var[i] = b;
        if (!(b >= 0.0)) {
            return i;
        }
        // Meuwissen and Luo (1992): the ancestors from the youngest down, each
        // once, so that its contribution is complete when it is taken (its
        // offspring among them are numbered above it); A^Γ(i, i) is then
        // Σ t_k² b_k over them, plus q_iᵀ Γ q_i over the metafounders, q_i
        // the contributions that reach each group.
        const auto animal = static_cast<std::int32_t>(i);
        contribution[static_cast<std::size_t>(animal)] = 1.0;
        queued[static_cast<std::size_t>(animal)] = 1;
        reached.push_back(animal);
        next.push(animal);
        double total = 0.0;
        while (!next.empty()) {
            const std::int32_t k = next.top();
            next.pop();
            const double c = contribution[static_cast<std::size_t>(k)];
            total += c * c * sampling_var[k];
            for (const auto& [parent, group] :
                 {std::pair{herd.sire[k], herd.sire_group[k]}, std::pair{herd.dam[k], herd.dam_group[k]}}) {
                if (parent >= 0) {
                    const auto p = static_cast<std::size_t>(parent);
                    if (queued[p] == 0) {
                        queued[p] = 1;
                        reached.push_back(parent);
                        next.push(parent);
                    }
                    contribution[p] += 0.5 * c;
                } else if (group >= 0) {
                    const auto q = static_cast<std::size_t>(group);
                    if (reaches[q] == 0) {
                        reaches[q] = 1;
                        groups.push_back(group);
                    }
                    share[q] += 0.5 * c;
                }
            }
            pace();
        }
        double base = 0.0;
        for (const std::int32_t p : groups) {
            for (const std::int32_t q : groups) {
                base += share[static_cast<std::size_t>(p)] * herd.gamma[p * herd.g + q] *
                        share[static_cast<std::size_t>(q)];
            }
        }
        self[static_cast<std::size_t>(i)] = total + base;
        inbreeding[i] = total + base - 1.0;
        for (const std::int32_t k : reached) {
            contribution[static_cast<std::size_t>(k)] = 0.0;
            queued[static_cast<std::size_t>(k)] = 0;
        }
        for (const std::int32_t p : groups) {
            share[static_cast<std::size_t>(p)] = 0.0;
            reaches[static_cast<std::size_t>(p)] = 0;
        }
        reached.clear();
        groups.clear();
    }
    return -1;
}

}  // namespace tolmkit
