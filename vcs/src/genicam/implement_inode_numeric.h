#pragma once
// The part that Integer and Float nodes share: Min, Max, Inc and Default given
// as literals or links, with per-class fallbacks, and the range check of
// writes. Class supplies `min_fallback(flags)`, `max_fallback(flags)`,
// `inc_fallback(flags)` and `default_fallback(flags)`.

#include "genicam/implement_inode.h"
#include "genicam/link_or_value.h"
#include "genicam/numeric_traits.h"

namespace GenICam::impl {

template <class Class, class T>
class implement_inode_numeric : public implement_inode<Class, typename numeric_traits<T>::iface> {
    using traits = numeric_traits<T>;

public:
    result<T> get_min(std::uint32_t flags) override
    {
        return min_.present() ? min_.evaluate(flags) : self().min_fallback(flags);
    }
    result<T> get_max(std::uint32_t flags) override
    {
        return max_.present() ? max_.evaluate(flags) : self().max_fallback(flags);
    }
    result<T> get_inc(std::uint32_t flags) override
    {
        return inc_.present() ? inc_.evaluate(flags) : self().inc_fallback(flags);
    }
    result<T> get_default(std::uint32_t flags) override
    {
        return default_.present() ? default_.evaluate(flags) : self().default_fallback(flags);
    }

protected:
    ~implement_inode_numeric() = default;

    Class& self() { return static_cast<Class&>(*this); }

    // Reads Min, Max, Inc and Default, in that order.
    void read_limits()
    {
        node_base_data& node = self();
        min_ = resolve_link_or_value_<T>(node, "Min", "pMin");
        max_ = resolve_link_or_value_<T>(node, "Max", "pMax");
        inc_ = resolve_link_or_value_<T>(node, "Inc", "pInc");
        default_ = resolve_link_or_value_from_contents<T>(node, node.child("Default"), node.child("pDefault"));
    }

    // Passes with flag 0x400; an unreadable Min skips its half, an unreadable
    // Max passes. Nothing is rounded or clamped. A NaN fails even with the
    // flag: it would reach the device as if it were a value.
    std::error_code range_check(T value, std::uint32_t flags)
    {
        if (!traits::is_number(value)) {
            traits::log_range_failure(self().name_text(), value);
            return make_error_code(errc::value_out_of_range);
        }
        if ((flags & access_flags::skip_range_check) != 0) {
            return {};
        }
        const result<T> min = get_min(flags);
        bool fails = min.has_value() && traits::below_min(value, min.value());
        if (!fails) {
            const result<T> max = get_max(flags);
            fails = max.has_value() && traits::above_max(value, max.value());
        }
        if (fails) {
            traits::log_range_failure(self().name_text(), value);
            return make_error_code(errc::value_out_of_range);
        }
        return {};
    }

    link_or_value<T> min_;
    link_or_value<T> max_;
    link_or_value<T> inc_;
    link_or_value<T> default_;
};

} // namespace GenICam::impl
