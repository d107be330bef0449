#pragma once
// Small shared types of the node-map engine: result objects, node kinds,
// access modes and the access flags passed with every value read and write.

#include <boost/outcome.hpp>

#include <cstdint>
#include <system_error>

#include "genicam/genicam_error.h"

namespace GenICam {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

// A read answers either a value or an error code of genicam_error_category.
// Asking a result that holds no value for its value raises
// outcome::bad_result_access ("no value").
template <class T>
using result = outcome::result<T, std::error_code, outcome::policy::throw_bad_result_access<std::error_code, void>>;

enum class node_type : std::uint8_t {
    Integer = 0,
    Float = 1,
    Enumeration = 2,
    Boolean = 3,
    String = 4,
    Command = 5,
    Category = 6,
    Register = 7,
    Port = 8,
    EnumEntry = 9,
};

enum class access_mode : std::uint8_t { RW = 0, RO = 1, WO = 2, NA = 3 };

enum class visibility : std::uint8_t { Beginner = 0, Expert = 1, Guru = 2, Invisible = 3 };

enum class name_space : std::uint8_t { Custom = 0, Standard = 1 };

// "-1" low, "0" normal, "+1" high.
enum class merge_priority : std::uint8_t { low = 0, normal = 1, high = 2 };

enum class display_notation : std::uint8_t { Automatic = 0, Fixed = 1, Scientific = 2 };

enum class float_representation : std::uint8_t { Linear = 0, Logarithmic = 1, PureNumber = 2 };

enum class integer_representation : std::uint8_t {
    Linear = 0,
    Logarithmic = 1,
    Boolean = 2,
    PureNumber = 3,
    HexNumber = 4,
    IPV4Address = 5,
    MACAddress = 6,
};

enum class cache_mode : std::uint8_t { WriteThrough = 0, WriteAround = 1, NoCache = 2 };

// Access flags: one 32-bit word passed with every value read and write.
namespace access_flags {
inline constexpr std::uint32_t none = 0;
inline constexpr std::uint32_t cache_only = 0x100;
inline constexpr std::uint32_t bypass_cache = 0x200;
inline constexpr std::uint32_t skip_range_check = 0x400;
inline constexpr std::uint32_t skip_access_check = 0x800;
} // namespace access_flags

} // namespace GenICam
