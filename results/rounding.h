#pragma once

#include <cmath>

namespace results {

// To the nearest integer, halves to the even neighbour (13.5 -> 14, 10.5 -> 10).
inline int roundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) {
        rounded = below + 1.0;
    }
    return int(rounded);
}

}  // namespace results
