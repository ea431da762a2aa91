// Meuwissen and Luo's (1992) walk up the ancestors, for a few animals at a
// time: the ancestors of all of them are taken in decreasing number, so that
// every ancestor's shares are complete (all of its descendants among them
// passed theirs) when it is taken. Animals close in number share most of
// their ancestors, which one walk then visits once for all of them. Walks
// need nothing of each other: the threads take batches of them in turn.
#include "kinship.hpp"

#include <algorithm>
#include <array>
#include <vector>

#include "crew.hpp"
#include "memory.hpp"

namespace tolmkit {

namespace {

// Animals walked together, each in a lane of its own.
constexpr std::size_t lanes = 8;
// Walks of a batch that a thread takes.
constexpr std::int64_t walks = 64;

using Shares = std::array<double, lanes>;

// The ancestors listed for a walk: a bit each, and a bit for each word of
// them that holds any, so that the highest is found in a step or two where
// a priority queue took a logarithm of comparisons.
class Listed {
public:
    explicit Listed(std::int32_t n) : bits_(static_cast<std::size_t>(n) / 64 + 1), words_(bits_.size() / 64 + 1) {}

    void list(std::int32_t k) {
        const auto at = static_cast<std::uint32_t>(k);
        bits_[at >> 6] |= std::uint64_t{1} << (at & 63);
        words_[at >> 12] |= std::uint64_t{1} << ((at >> 6) & 63);
    }

    // Takes the highest listed, at most `at_most`, off the list; −1 when none is.
    std::int32_t take_highest(std::int32_t at_most) {
        if (at_most < 0) {
            return -1;
        }
        for (auto top = static_cast<std::int64_t>(static_cast<std::uint32_t>(at_most) >> 12); top >= 0; --top) {
            const std::uint64_t summary = words_[static_cast<std::size_t>(top)];
            if (summary != 0) {
                const auto w = static_cast<std::size_t>(top << 6 | (63 - __builtin_clzll(summary)));
                const auto bit = static_cast<std::uint32_t>(63 - __builtin_clzll(bits_[w]));
                bits_[w] &= ~(std::uint64_t{1} << bit);
                if (bits_[w] == 0) {
                    words_[static_cast<std::size_t>(top)] &= ~(std::uint64_t{1} << (w & 63));
                }
                return static_cast<std::int32_t>(w << 6 | bit);
            }
        }
        return -1;
    }

private:
    std::vector<std::uint64_t> bits_, words_;
};

// One thread's scratch: shares zero and nothing listed between walks. The
// shares are read all over, on large pages where the system has them.
struct Walker {
    explicit Walker(std::int32_t n) : share(static_cast<std::size_t>(n), Pages::large), listed(n) {}

    Zeroed<Shares> share;
    Listed listed;
};

// The ancestors' parts of the sums of `animals` (up to `lanes` of them) into
// `parts`; an ancestor of some lanes only adds (0 × 0) × w to the others,
// which changes none of their sums. Returns the ancestors visited.
std::int64_t ancestors_sums(const std::int32_t* animals, std::size_t count, const std::int32_t* sire,
                            const std::int32_t* dam, const double* weight, Walker& walker, double* parts) {
    std::int32_t highest = -1;
    auto pass = [&](std::int32_t parent, std::size_t lane, double half) {
        if (parent < 0) {
            return;
        }
        walker.listed.list(parent);
        highest = parent > highest ? parent : highest;
        walker.share[static_cast<std::size_t>(parent)][lane] += half;
    };
    for (std::size_t lane = 0; lane < count; ++lane) {
        pass(sire[animals[lane]], lane, 0.5);
        pass(dam[animals[lane]], lane, 0.5);
    }
    Shares sums{};
    std::int64_t visited = 0;
    for (std::int32_t k = walker.listed.take_highest(highest); k >= 0; k = walker.listed.take_highest(k)) {
        const auto at = static_cast<std::size_t>(k);
        const Shares t = walker.share[at];
        walker.share[at] = Shares{};
        for (std::size_t lane = 0; lane < lanes; ++lane) {
            sums[lane] += t[lane] * t[lane] * weight[k];
            if (t[lane] != 0.0) {
                pass(sire[k], lane, t[lane] / 2.0);
                pass(dam[k], lane, t[lane] / 2.0);
            }
        }
        ++visited;
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
            [&](int t, std::int64_t first, std::int64_t size) {
                std::int64_t visited = 0;
                for (std::int64_t at = first; at < first + size; at += lanes) {
                    const auto members = static_cast<std::size_t>(std::min<std::int64_t>(lanes, first + size - at));
                    visited += ancestors_sums(walked.data() + at, members, sire, dam, weight,
                                              walkers[static_cast<std::size_t>(t)], out);
                }
                return visited;
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
