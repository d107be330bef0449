#include "genicam/string_type.h"

#include "genicam/eval_depth_guard.h"
#include "genicam/genicam_log.h"
#include "genicam/value_access.h"

namespace GenICam::impl {

void string_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    const std::string_view link = child("pValue");
    if (!link.empty()) {
        INode* found = services->find_node(link);
        IString* target =
            found != nullptr && found->get_node_type() == node_type::String ? node_as<IString>(*found) : nullptr;
        if (target != nullptr) {
            value_node_ = target;
            found->get_eval().add_dependent(*this);
        } else {
            GENICAM_LOG(1, "String (\"%s\"). Failed to parse or resolve \"pValue\" xml node.", name_text());
        }
        return;
    }
    value_ = child("Value");
}

result<std::string> string_type::get_val(std::uint32_t flags)
{
    if (const std::error_code ec = check_access(false, flags)) {
        return ec;
    }
    if (value_node_ != nullptr) {
        const eval_depth_guard guard;
        if (!guard) {
            return make_error_code(errc::not_implemented);
        }
        return value_node_->get_val(flags);
    }
    return value_;
}

std::error_code string_type::set_val(std::string_view value, std::uint32_t flags)
{
    if (const std::error_code ec = check_access(true, flags)) {
        return ec;
    }
    if (value_node_ != nullptr) {
        const eval_depth_guard guard;
        if (!guard) {
            return make_error_code(errc::not_implemented);
        }
        return value_node_->set_val(value, flags);
    }
    value_.assign(value);
    propagate_change();
    return {};
}

} // namespace GenICam::impl
