// Range-checked arithmetic: values that do not fit their field raise the
// program's error instead of wrapping.
#pragma once

#include "core/Errors.h"

#include <cmath>
#include <concepts>
#include <cstdint>
#include <utility>

namespace marlix {

// Narrowing to a field: "Range check error" when the value does not fit.
template <std::integral To, std::integral From> constexpr To fit(From value) {
    if (!std::in_range<To>(value)) rangeError();
    return static_cast<To>(value);
}

// Signed 32-bit sums and differences: "Integer overflow" when they leave the type.
inline std::int32_t add32(std::int32_t a, std::int64_t b) {
    std::int64_t sum = std::int64_t{a} + b;
    if (!std::in_range<std::int32_t>(sum)) overflowError();
    return static_cast<std::int32_t>(sum);
}

// Nearest integer, a half going to the even neighbour (the default rounding
// mode of IEEE arithmetic, which rint follows). Non-finite or out-of-range
// values are range errors.
inline std::int64_t nearest(long double value) {
    if (!std::isfinite(value)) rangeError();
    long double r = std::rint(value);
    if (r < -9.2e18L || r > 9.2e18L) rangeError();
    return static_cast<std::int64_t>(r);
}

template <std::integral To> To nearestAs(long double value) {
    return fit<To>(nearest(value));
}

} // namespace marlix
