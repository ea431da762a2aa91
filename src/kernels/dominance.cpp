#include "dominance.hpp"

namespace tolm {

Verdict check_parent_code(const Arguments& args, std::size_t parents, std::int64_t animal, std::int64_t limit,
                          const char* limit_is) {
    const std::int32_t code = args.integers(parents)[animal];
    if (is_parent_code(code, limit)) {
        return std::nullopt;
    }
    return args.value_error(args.element(parents, animal) + " must be " + std::to_string(MISSING_PARENT) +
                            " (missing) or " + limit_is + " below " + std::to_string(limit));
}

}  // namespace tolm
