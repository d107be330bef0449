#pragma once
// What differs between the Integer and the Float families: the value type,
// the fallbacks of absent limits, the tolerance of the range check, the
// delegating range reads and the family's messages. The node classes of both
// families are written once over these traits.

#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace GenICam::impl {

template <class T>
struct numeric_traits;

template <>
struct numeric_traits<std::int64_t> {
    using iface = IInteger;
    static constexpr const char* family = "Integer";

    static result<std::int64_t> min_fallback() { return std::numeric_limits<std::int64_t>::min(); }
    static result<std::int64_t> max_fallback() { return std::numeric_limits<std::int64_t>::max(); }
    static result<std::int64_t> inc_fallback() { return std::int64_t{1}; }

    static bool below_min(std::int64_t v, std::int64_t min) { return v < min; }
    static bool above_max(std::int64_t v, std::int64_t max) { return v > max; }
    static bool differs(std::int64_t a, std::int64_t b) { return a != b; }
    static constexpr bool is_number(std::int64_t) { return true; }

    static result<std::int64_t> read(INode& n, std::uint32_t f) { return get_eval_val<std::int64_t>(n, f); }
    static result<std::int64_t> min_of(INode& n, std::uint32_t f) { return get_eval_min_int(n, f); }
    static result<std::int64_t> max_of(INode& n, std::uint32_t f) { return get_eval_max_int(n, f); }
    static result<std::int64_t> inc_of(INode& n, std::uint32_t f) { return get_eval_inc_int(n, f); }
    static result<std::int64_t> default_of(INode& n, std::uint32_t f) { return get_eval_default_int(n, f); }

    // A "Value" or "ValueIndexed" text.
    static bool parse_value(std::string_view text, std::int64_t& out)
    {
        const parsed_integer p = parse_integer_text(text);
        out = p.value;
        return p.ok();
    }

    static void log_range_failure(const char* name, std::int64_t value);
};

template <>
struct numeric_traits<double> {
    using iface = IFloat;
    static constexpr const char* family = "Float";
    // Values this close outside a limit still pass (and are stored as given).
    static constexpr double tolerance = 1e-5;

    static result<double> min_fallback() { return std::numeric_limits<double>::min(); }
    static result<double> max_fallback() { return std::numeric_limits<double>::max(); }
    static result<double> inc_fallback() { return make_error_code(errc::not_implemented); }

    static bool below_min(double v, double min) { return min - v >= tolerance; }
    static bool above_max(double v, double max) { return v - max >= tolerance; }
    // A NaN on either side always counts as a change.
    static bool differs(double a, double b) { return !(a == b); }
    // A NaN lies within no range: writes refuse it, whatever the limits.
    static bool is_number(double v) { return !std::isnan(v); }

    static result<double> read(INode& n, std::uint32_t f) { return get_eval_val<double>(n, f); }
    static result<double> min_of(INode& n, std::uint32_t f) { return get_eval_min_float(n, f); }
    static result<double> max_of(INode& n, std::uint32_t f) { return get_eval_max_float(n, f); }
    static result<double> inc_of(INode& n, std::uint32_t f) { return get_eval_inc_float(n, f); }
    static result<double> default_of(INode& n, std::uint32_t f) { return get_eval_default_float(n, f); }

    static bool parse_value(std::string_view text, double& out)
    {
        const parsed_float p = parse_float_text(text);
        out = p.value;
        return p.ok();
    }

    static void log_range_failure(const char* name, double value);
};

} // namespace GenICam::impl
