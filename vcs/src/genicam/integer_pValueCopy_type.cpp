#include "genicam/integer_pValueCopy_type.h"

#include "genicam/genicam_log.h"

#include <algorithm>

namespace GenICam::impl {

void integer_pValueCopy_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    read_limits();
    value_node_ = services->find_node(child("pValue"));
    if (value_node_ == nullptr) {
        GENICAM_LOG(1, "Integer (\"%s\"). Failed to parse or resolve \"pValue\" xml element.\n", name_text());
        return;
    }
    value_node_->get_eval().add_dependent(*this);
    copy_targets_.reserve(static_cast<std::uint32_t>(children->count("pValueCopy")) + 1);
    constexpr child_key value_key = "pValue";
    constexpr child_key copy_key = "pValueCopy";
    for (std::size_t i = 0; i < children->size(); ++i) {
        const std::uint8_t key = children->key_at(i);
        if (key == value_key.index()) {
            copy_targets_.push_back(value_node_);
        } else if (key == copy_key.index()) {
            if (INode* target = services->find_node(children->entry(i).text)) {
                copy_targets_.push_back(target);
            } else {
                GENICAM_LOG(1, "Integer (\"%s\"). Failed to parse or resolve \"pValueCopy\" xml element.\n",
                            name_text());
            }
        }
    }
}

std::error_code integer_pValueCopy_type::set_val(std::int64_t value, std::uint32_t flags)
{
    if (const std::error_code ec = check_access(true, flags)) {
        return ec;
    }
    if (const std::error_code ec = range_check(value, flags)) {
        return ec;
    }
    if (copy_targets_.empty()) {
        return make_error_code(errc::not_implemented);
    }
    for (INode* target : copy_targets_) {
        if (const std::error_code ec = set_eval_val(*target, value, flags)) {
            return ec;
        }
    }
    return {};
}

result<std::int64_t> integer_pValueCopy_type::get_val(std::uint32_t flags)
{
    if (const std::error_code ec = check_access(false, flags)) {
        return ec;
    }
    if (value_node_ == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    return get_eval_val<std::int64_t>(*value_node_, flags);
}

result<std::int64_t> integer_pValueCopy_type::min_fallback(std::uint32_t flags)
{
    std::int64_t folded = std::numeric_limits<std::int64_t>::min();
    for (INode* target : copy_targets_) {
        const result<std::int64_t> min = get_eval_min_int(*target, flags);
        if (!min) {
            return min.error();
        }
        folded = std::max(folded, min.value());
    }
    return folded;
}

result<std::int64_t> integer_pValueCopy_type::max_fallback(std::uint32_t flags)
{
    std::int64_t folded = std::numeric_limits<std::int64_t>::max();
    for (INode* target : copy_targets_) {
        const result<std::int64_t> max = get_eval_max_int(*target, flags);
        if (!max) {
            return max.error();
        }
        folded = std::min(folded, max.value());
    }
    return folded;
}

result<std::int64_t> integer_pValueCopy_type::inc_fallback(std::uint32_t flags)
{
    if (value_node_ == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    return get_eval_inc_int(*value_node_, flags);
}

result<std::int64_t> integer_pValueCopy_type::default_fallback(std::uint32_t flags)
{
    if (value_node_ == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    return get_eval_default_int(*value_node_, flags);
}

} // namespace GenICam::impl
