// The shortest decimal digits that read back to a double.
#pragma once

namespace tolmkit {

// The most digits that shortest_digits gives.
constexpr int SHORTEST_DIGITS = 17;

// The digits that Python's repr and std::to_chars choose for `positive`, a
// positive finite double: the fewest that read back to it, of those the
// closest to it. Writes them within scratch[0 .. SHORTEST_DIGITS) and returns
// the first; `count` digits without trailing zeros, the first at the power of
// ten `exponent`.
const char* shortest_digits(double positive, char* scratch, int& count, int& exponent);

}  // namespace tolmkit
