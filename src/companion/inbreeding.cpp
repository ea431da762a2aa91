#include "inbreeding.hpp"

#include <algorithm>
#include <memory>
#include <vector>

#include "ancestor_pass.hpp"
#include "crew.hpp"

namespace tolmkit {

namespace {

using tolm::ancestor_pass::Ancestry;
using tolm::ancestor_pass::Passes;

}  // namespace

std::string layering_problem(const Layered& p) {
    if (p.n < 0 || p.n >= tolm::ancestor_pass::max_animals) {
        return "the animals must number fewer than 2^30";
    }
    if (p.layers < 0 || p.bounds[0] != 0 || p.bounds[p.layers] != p.n ||
        !std::is_sorted(p.bounds, p.bounds + p.layers + 1)) {
        return "bounds must rise from 0 to the number of animals";
    }
    std::vector<std::int32_t> layer_of(static_cast<std::size_t>(p.n), -1);
    for (std::int32_t d = 0; d < p.layers; ++d) {
        for (std::int64_t k = p.bounds[d]; k < p.bounds[d + 1]; ++k) {
            const std::int64_t i = p.order[k];
            if (i < 0 || i >= p.n || layer_of[static_cast<std::size_t>(i)] != -1) {
                return "order must hold every animal once";
            }
            if (k > p.bounds[d] && i < p.order[k - 1]) {
                return "each layer must be in ascending numbers";
            }
            layer_of[static_cast<std::size_t>(i)] = d;
        }
    }
    for (std::int32_t i = 0; i < p.n; ++i) {
        for (const std::int32_t parent : {p.sire[i], p.dam[i]}) {
            if (parent == p.n) {
                continue;
            }
            if (parent < 0 || parent >= i) {
                return "the parents of animal " + std::to_string(i) + " must be numbered below it, or " +
                       std::to_string(p.n) + " for unknown";
            }
            if (layer_of[static_cast<std::size_t>(parent)] >= layer_of[static_cast<std::size_t>(i)]) {
                return "the parents of animal " + std::to_string(i) + " must be in earlier layers";
            }
        }
    }
    return {};
}

void inbreeding_by_layers(const Layered& p, int threads, double* inbreeding, double* sampling_var, Pacer& pace,
                          std::int32_t batch) {
    Ancestry ancestry(p.sire, p.dam, inbreeding, sampling_var, p.n);
    std::vector<Passes> passes;
    for (int t = 0; t < std::max(threads, 1); ++t) {
        passes.emplace_back(p.n);
    }
    const std::unique_ptr<std::int32_t[]> animals(new std::int32_t[static_cast<std::size_t>(p.n)]);
    ancestry.number();
    for (std::int64_t d = 0; d < p.layers; ++d) {
        const std::int64_t first = p.bounds[d], last = p.bounds[d + 1];
        std::int32_t count = 0;
        for (std::int64_t k = first; k < last; ++k) {
            const auto i = static_cast<std::int32_t>(p.order[k]);
            ancestry.enter(i);
            if (!ancestry.same_parents_as_before(i)) {
                animals.get()[count++] = i;
            }
        }
        ancestry.in_family_order(animals.get(), animals.get() + count);
        // Counted here too, so that the calling thread looks up between
        // layers even where the helpers take every batch of them.
        pace(last - first);
        in_turn(static_cast<int>(passes.size()), count, std::clamp(batch, std::int32_t{1}, std::int32_t{1} << 20), pace,
                [&](int t, std::int64_t from, std::int64_t size, Pacer& paced) {
                    paced(size + passes[static_cast<std::size_t>(t)].run(ancestry, animals.get() + from,
                                                                         static_cast<std::int32_t>(size)));
                });
        // In ascending numbers, so that a run of full sibs takes the
        // coefficient of the first of them.
        for (std::int64_t k = first; k < last; ++k) {
            ancestry.take_coefficient_before(static_cast<std::int32_t>(p.order[k]));
        }
    }
}

}  // namespace tolmkit
