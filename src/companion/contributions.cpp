#include "contributions.hpp"

#include <algorithm>
#include <functional>
#include <numeric>
#include <queue>

namespace tolmkit {

namespace {

// The offspring of every animal in the order in which the layered pass up
// adds their halves: by generation, the deepest first; within a generation,
// the links through which the animal is the sire, then those through which
// it is the dam (a selfed offspring comes twice), each by number.
class Offspring {
public:
    explicit Offspring(const Lineage& lineage) : first_(static_cast<std::size_t>(lineage.n) + 1, 0) {
        const std::int32_t n = lineage.n;
        std::int64_t deepest = 0;
        for (std::int32_t i = 0; i < n; ++i) {
            deepest = std::max(deepest, lineage.generation[i]);
            for (const std::int32_t parent : {lineage.sire[i], lineage.dam[i]}) {
                if (parent >= 0) {
                    ++first_[static_cast<std::size_t>(parent) + 1];
                }
            }
        }
        for (std::int32_t i = 0; i < n; ++i) {
            first_[static_cast<std::size_t>(i) + 1] += first_[static_cast<std::size_t>(i)];
        }
        // The animals by generation, by number within one (a counting sort).
        std::vector<std::int64_t> start(static_cast<std::size_t>(deepest) + 2, 0);
        for (std::int32_t i = 0; i < n; ++i) {
            ++start[static_cast<std::size_t>(lineage.generation[i]) + 1];
        }
        std::partial_sum(start.begin(), start.end(), start.begin());
        std::vector<std::int32_t> layered(static_cast<std::size_t>(n));
        std::vector<std::int64_t> next(start.begin(), start.end() - 1);
        for (std::int32_t i = 0; i < n; ++i) {
            layered[static_cast<std::size_t>(next[static_cast<std::size_t>(lineage.generation[i])]++)] = i;
        }
        children_.resize(static_cast<std::size_t>(first_.back()));
        std::vector<std::int64_t> filled(first_.begin(), first_.end() - 1);
        for (std::int64_t depth = deepest; depth >= 1; --depth) {
            for (const std::int32_t* parents : {lineage.sire, lineage.dam}) {
                for (std::int64_t at = start[static_cast<std::size_t>(depth)];
                     at < start[static_cast<std::size_t>(depth) + 1]; ++at) {
                    const std::int32_t child = layered[static_cast<std::size_t>(at)];
                    const std::int32_t parent = parents[child];
                    if (parent >= 0) {
                        children_[static_cast<std::size_t>(filled[static_cast<std::size_t>(parent)]++)] = child;
                    }
                }
            }
        }
    }

    const std::int32_t* begin(std::int32_t animal) const {
        return children_.data() + first_[static_cast<std::size_t>(animal)];
    }
    const std::int32_t* end(std::int32_t animal) const {
        return children_.data() + first_[static_cast<std::size_t>(animal) + 1];
    }

private:
    std::vector<std::int64_t> first_;
    std::vector<std::int32_t> children_;
};

// An animal's weight plus half of the value of each offspring not `stopped`,
// summed a generation of offspring at a time as the layered pass sums them.
double pulled(const Lineage& lineage, const Offspring& offspring, std::int32_t animal, const double* weight,
              const double* values, const std::uint8_t* stopped, Pacer& pace) {
    double value = weight[animal];
    double layer = 0.0;
    std::int64_t depth = -1;
    for (const std::int32_t* child = offspring.begin(animal); child != offspring.end(animal); ++child) {
        if (lineage.generation[*child] != depth) {
            value += layer;
            layer = 0.0;
            depth = lineage.generation[*child];
        }
        if (stopped == nullptr || stopped[*child] == 0) {
            layer += 0.5 * values[*child];
        }
    }
    pace(offspring.end(animal) - offspring.begin(animal) + 1);
    return value + layer;
}

// A candidate with q computed after `step` choices; the heap's top is the
// largest q, the lowest number among equals.
struct Candidate {
    double q;
    std::int32_t animal;
    std::int64_t step;
};

bool below(const Candidate& a, const Candidate& b) { return a.q < b.q || (a.q == b.q && a.animal > b.animal); }

// The share of an animal's genes from the animals taken (1 for those
// themselves): half the sire's plus half the dam's, as the layered pass
// down gives it, each animal's share computed once after each choice.
class Shares {
public:
    Shares(const Lineage& lineage, const std::vector<std::uint8_t>& taken)
        : lineage_(lineage),
          taken_(taken),
          share_(static_cast<std::size_t>(lineage.n)),
          step_(static_cast<std::size_t>(lineage.n), -1) {}

    double of(std::int32_t animal, std::int64_t step, Pacer& pace) {
        if (known(animal, step)) {
            return value(animal);
        }
        // Depth first over the ancestry, without recursion: a pedigree may
        // hold thousands of generations.
        pending_.push_back(animal);
        while (!pending_.empty()) {
            const std::int32_t i = pending_.back();
            const std::int32_t sire = lineage_.sire[i], dam = lineage_.dam[i];
            const bool sire_ready = sire < 0 || known(sire, step), dam_ready = dam < 0 || known(dam, step);
            if (!sire_ready) {
                pending_.push_back(sire);
            }
            if (!dam_ready) {
                pending_.push_back(dam);
            }
            if (sire_ready && dam_ready) {
                pending_.pop_back();
                if (!known(i, step)) {
                    share_[static_cast<std::size_t>(i)] = 0.5 * value(sire) + 0.5 * value(dam);
                    step_[static_cast<std::size_t>(i)] = step;
                    pace();
                }
            }
        }
        return value(animal);
    }

private:
    bool known(std::int32_t animal, std::int64_t step) const {
        return taken_[static_cast<std::size_t>(animal)] != 0 || step_[static_cast<std::size_t>(animal)] == step;
    }
    double value(std::int32_t animal) const {
        if (animal < 0) {
            return 0.0;
        }
        return taken_[static_cast<std::size_t>(animal)] != 0 ? 1.0 : share_[static_cast<std::size_t>(animal)];
    }

    const Lineage& lineage_;
    const std::vector<std::uint8_t>& taken_;
    std::vector<double> share_;
    std::vector<std::int64_t> step_;
    std::vector<std::int32_t> pending_;
};

// The ancestors of an animal, itself left out, from the youngest (highest
// number) down: the order in which the pass up computes them.
std::vector<std::int32_t> ancestors_of(const Lineage& lineage, std::int32_t animal, std::vector<std::int64_t>& seen,
                                       std::int64_t mark) {
    std::vector<std::int32_t> found, pending{animal};
    while (!pending.empty()) {
        const std::int32_t i = pending.back();
        pending.pop_back();
        for (const std::int32_t parent : {lineage.sire[i], lineage.dam[i]}) {
            if (parent >= 0 && seen[static_cast<std::size_t>(parent)] != mark) {
                seen[static_cast<std::size_t>(parent)] = mark;
                found.push_back(parent);
                pending.push_back(parent);
            }
        }
    }
    std::sort(found.begin(), found.end(), std::greater<>());
    return found;
}

}  // namespace

std::string lineage_error(const Lineage& lineage) {
    for (std::int32_t i = 0; i < lineage.n; ++i) {
        std::int64_t deeper = -1;
        for (const std::int32_t parent : {lineage.sire[i], lineage.dam[i]}) {
            if (parent < -1 || parent >= i) {
                return "animal " + std::to_string(i) + " has a parent outside -1 .. " + std::to_string(i - 1);
            }
            if (parent >= 0) {
                deeper = std::max(deeper, lineage.generation[parent]);
            }
        }
        if (lineage.generation[i] != deeper + 1) {
            return "animal " + std::to_string(i) + " is of generation " + std::to_string(lineage.generation[i]) +
                   ", not " + std::to_string(deeper + 1);
        }
    }
    return "";
}

void contributions(const Lineage& lineage, const double* weight, double* out, Pacer& pace) {
    const Offspring offspring(lineage);
    for (std::int32_t i = lineage.n - 1; i >= 0; --i) {
        out[i] = pulled(lineage, offspring, i, weight, out, nullptr, pace);
    }
}

Ancestors marginal_ancestors(const Lineage& lineage, const double* weight, const double* contribution,
                             const std::uint8_t* eligible, std::int64_t most, double enough, Pacer& pace) {
    const Offspring offspring(lineage);
    const auto n = static_cast<std::size_t>(lineage.n);
    std::vector<double> values(contribution, contribution + n);
    std::vector<std::uint8_t> taken(n, 0);
    std::vector<std::int64_t> seen(n, -1);
    Shares shares(lineage, taken);
    std::vector<Candidate> heap;
    for (std::int32_t i = 0; i < lineage.n; ++i) {
        if (eligible[i] != 0) {
            heap.push_back({contribution[i], i, 0});
        }
    }
    std::make_heap(heap.begin(), heap.end(), below);
    Ancestors found;
    std::int64_t step = 0;
    while (static_cast<std::int64_t>(found.order.size()) < most && found.explained < enough && !heap.empty()) {
        while (heap.front().step != step) {
            std::pop_heap(heap.begin(), heap.end(), below);
            Candidate& stale = heap.back();
            stale.q = values[static_cast<std::size_t>(stale.animal)] * (1.0 - shares.of(stale.animal, step, pace));
            stale.step = step;
            std::push_heap(heap.begin(), heap.end(), below);
        }
        const Candidate best = heap.front();
        if (best.q <= 0.0) {
            break;
        }
        std::pop_heap(heap.begin(), heap.end(), below);
        heap.pop_back();
        found.order.push_back(best.animal);
        found.marginal.push_back(best.q);
        found.explained += best.q;
        taken[static_cast<std::size_t>(best.animal)] = 1;
        ++step;
        // Only the animal's ancestors receive less; each is computed again
        // from its offspring, the youngest first, as the whole pass would.
        for (const std::int32_t ancestor : ancestors_of(lineage, best.animal, seen, step)) {
            values[static_cast<std::size_t>(ancestor)] =
                pulled(lineage, offspring, ancestor, weight, values.data(), taken.data(), pace);
        }
    }
    return found;
}

}  // namespace tolmkit
