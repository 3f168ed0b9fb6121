// The platform's basic types and status values, as its kits name them.
#pragma once

#include <cerrno>
#include <cstdint>

using int8 = std::int8_t;
using uint8 = std::uint8_t;
using int16 = std::int16_t;
using uint16 = std::uint16_t;
using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using bigtime_t = std::int64_t;  // microseconds

// Success is 0; errors are negative (errno values, negated).
using status_t = std::int32_t;

inline constexpr status_t B_OK = 0;
inline constexpr status_t B_ERROR = -1;
inline constexpr status_t B_BAD_VALUE = -EINVAL;
inline constexpr status_t B_BAD_INDEX = -ERANGE;
inline constexpr status_t B_ENTRY_NOT_FOUND = -ENOENT;
inline constexpr status_t B_NAME_TOO_LONG = -ENAMETOOLONG;
inline constexpr status_t B_NOT_ALLOWED = -EPERM;
