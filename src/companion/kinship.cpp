// Meuwissen and Luo's (1992) walk up the ancestors, for a few animals at a
// time, with the scratch of fcoeff's ancestor pass: the ancestors of all of
// them are taken in decreasing number, so that every ancestor's shares are
// complete (all of its descendants among them passed theirs) when it is
// taken. Animals close in number share most of their ancestors, which one
// walk then visits once for all of them. Walks need nothing of each other:
// the threads take batches of them in turn.
#include "kinship.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "crew.hpp"
#include "scratch.hpp"

namespace tolmkit {

namespace {

// Animals walked together, each in a lane of its own.
constexpr std::size_t lanes = 8;
// Walks of a batch that a thread takes.
constexpr std::int64_t walks = 64;

using Shares = std::array<double, lanes>;

// One thread's scratch: shares zero and no ancestor in the set between
// walks. The shares are read all over, on large pages where the system has
// them; the set gives its ancestors from the highest number down.
struct Walker {
    explicit Walker(std::int32_t n)
        : block(static_cast<std::size_t>(n) * sizeof(Shares)), share(block.as<Shares>()), ancestors(n) {}

    tolm::scratch::ZeroedBlock block;
    Shares* share;
    tolm::scratch::AncestorSet ancestors;
};

// The ancestors' parts of the sums of `animals` (up to `lanes` of them) into
// `parts`; an ancestor of some lanes only adds (0 × 0) × w to the others,
// which changes none of their sums. Returns the ancestors visited.
std::int64_t ancestors_sums(const std::int32_t* animals, std::size_t count, const std::int32_t* sire,
                            const std::int32_t* dam, const double* weight, Walker& walker, double* parts) {
    std::int32_t highest = -1;
    const auto pass = [&](std::int32_t parent, std::size_t lane, double half, auto&& list) {
        if (parent < 0) {
            return;
        }
        list(parent);
        highest = parent > highest ? parent : highest;
        walker.share[parent][lane] += half;
    };
    const auto insert = [&](std::int32_t parent) { walker.ancestors.insert(parent); };
    for (std::size_t lane = 0; lane < count; ++lane) {
        pass(sire[animals[lane]], lane, 0.5, insert);
        pass(dam[animals[lane]], lane, 0.5, insert);
    }
    Shares sums{};
    std::int64_t visited = 0;
    if (highest >= 0) {
        walker.ancestors.drain(highest, [&](std::int32_t k, auto&& list) {
            const Shares t = walker.share[k];
            walker.share[k] = Shares{};
            for (std::size_t lane = 0; lane < lanes; ++lane) {
                sums[lane] += t[lane] * t[lane] * weight[k];
                if (t[lane] != 0.0) {
                    pass(sire[k], lane, t[lane] / 2.0, list);
                    pass(dam[k], lane, t[lane] / 2.0, list);
                }
            }
            ++visited;
        });
    }
    for (std::size_t lane = 0; lane < count; ++lane) {
        parts[animals[lane]] = sums[lane];
    }
    return visited;
}

}  // namespace

void squared_contributions(std::int32_t n, const std::int32_t* sire, const std::int32_t* dam, const double* weight,
                           double* out, Pacer& pace, int threads) {
    // The ancestors' part of each animal's sum, into out; full sibs that
    // follow each other share it and take no walk.
    auto siblings = [&](std::int32_t i) { return i > 0 && sire[i] == sire[i - 1] && dam[i] == dam[i - 1]; };
    std::vector<std::int32_t> walked;
    for (std::int32_t i = 0; i < n; ++i) {
        if (!siblings(i)) {
            walked.push_back(i);
        }
    }
    // Paternal half sibs, then full sibs, walked together: they share most
    // of their ancestors.
    std::sort(walked.begin(), walked.end(), [&](std::int32_t x, std::int32_t y) {
        return sire[x] != sire[y] ? sire[x] < sire[y] : dam[x] != dam[y] ? dam[x] < dam[y] : x < y;
    });
    std::vector<Walker> walkers;
    for (int t = 0; t < std::max(threads, 1); ++t) {
        walkers.emplace_back(n);
    }
    const auto count = static_cast<std::int64_t>(walked.size());
    in_turn(static_cast<int>(walkers.size()), count, walks * static_cast<std::int64_t>(lanes), pace,
            [&](int t, std::int64_t first, std::int64_t size, Pacer& paced) {
                for (std::int64_t at = first; at < first + size; at += lanes) {
                    const auto members = static_cast<std::size_t>(std::min<std::int64_t>(lanes, first + size - at));
                    paced(ancestors_sums(walked.data() + at, members, sire, dam, weight,
                                         walkers[static_cast<std::size_t>(t)], out));
                }
            });
    for (std::int32_t i = 0; i < n; ++i) {
        if (siblings(i)) {
            out[i] = out[i - 1];
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        out[i] += weight[i];
    }
}

}  // namespace tolmkit
