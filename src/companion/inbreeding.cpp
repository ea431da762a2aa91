#include "inbreeding.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "ancestor_pass.hpp"

namespace tolmkit {

namespace {

using tolm::ancestor_pass::Ancestry;
using tolm::ancestor_pass::Passes;

// The threads that work on one layer, the calling thread among them: each
// takes the next batch of the layer's animals until none is left or `stop`
// is set. Helpers are joined when it ends, by a throw too.
class Crew {
public:
    Crew(const Ancestry& ancestry, std::vector<Passes>& passes, const std::int32_t* animals, std::int32_t count,
         std::int32_t batch)
        : ancestry_(ancestry), passes_(passes), animals_(animals), count_(count), batch_(batch) {}

    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    ~Crew() {
        stop_ = true;
        for (std::thread& helper : helpers_) {
            helper.join();
        }
    }

    void run(Pacer& pace) {
        const auto batches = static_cast<std::size_t>((count_ + batch_ - 1) / batch_);
        for (std::size_t t = 1; t < std::min(passes_.size(), batches); ++t) {
            try {
                helpers_.emplace_back([this, t] { work(passes_[t]); });
            } catch (const std::system_error&) {  // no more threads to be had: those started do it all
                break;
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        work(passes_[0], &pace);
    }

private:
    void work(Passes& passes, Pacer* pace = nullptr) {
        while (!stop_) {
            const std::int32_t first = next_.fetch_add(batch_);
            if (first >= count_) {
                return;
            }
            const std::int64_t steps = passes.run(ancestry_, animals_ + first, std::min(batch_, count_ - first));
            if (pace != nullptr) {
                (*pace)(steps + batch_);
            }
        }
    }

    const Ancestry& ancestry_;
    std::vector<Passes>& passes_;
    const std::int32_t* animals_;
    std::int32_t count_;
    std::int32_t batch_;
    std::atomic<std::int32_t> next_{0};
    std::atomic<bool> stop_{false};
    std::vector<std::thread> helpers_;
};

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
        Crew(ancestry, passes, animals.get(), count, std::clamp(batch, std::int32_t{1}, std::int32_t{1} << 20))
            .run(pace);
        // In ascending numbers, so that a run of full sibs takes the
        // coefficient of the first of them.
        for (std::int64_t k = first; k < last; ++k) {
            ancestry.take_coefficient_before(static_cast<std::int32_t>(p.order[k]));
        }
    }
}

}  // namespace tolmkit
