// Rules of the report that both paths share, written once.
#pragma once

#include <algorithm>

namespace rundown {

/// The level of a structured heading: its int level held to 1..6 (2 when it has none).
constexpr long long heading_level(long long level) noexcept { return std::clamp(level, 1LL, 6LL); }

/// The number of "#" marks of a display heading: its level and two, held to 1..6.
constexpr int heading_marks(long long level) noexcept {
    return static_cast<int>(std::clamp(level, -1LL, 4LL) + 2);
}

}  // namespace rundown
