#include "genicam/boolean_type.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"

namespace GenICam::impl {

template <bool Linked>
boolean_type<Linked>::boolean_type(const node_init& init)
    : layer(init)
{
    const parsed_integer on = parse_integer_text(this->child("OnValue"));
    const parsed_integer off = parse_integer_text(this->child("OffValue"));
    on_value_ = on.ok() ? on.value : 1;
    off_value_ = off.ok() ? off.value : 0;
}

template <bool Linked>
void boolean_type<Linked>::_resolve_references(IGenICamDoc&, pugi::xml_node element)
{
    const pugi::xml_node extension = this->children->first("Extension");
    default_ = resolve_link_or_value_from_contents<std::int64_t>(*this, extension.child("Default").child_value(),
                                                                 extension.child("pDefault").child_value());
    if constexpr (Linked) {
        value_node_ = this->services->find_node(this->child("pValue"));
        if (value_node_ != nullptr) {
            value_node_->get_eval().add_dependent(*this);
        } else {
            GENICAM_LOG(1, "Boolean (\"%s\"). Failed to parse or resolve \"pValue\" xml element.\n",
                        this->name_text());
        }
    } else {
        const std::string_view text = this->child("Value");
        if (text == "true" || text == "1") {
            value_ = on_value_;
        } else if (text == "false" || text == "0") {
            value_ = off_value_;
        } else {
            GENICAM_LOG(1, "Boolean (\"%s\"). Failed to parse or resolve \"Value\" xml element.\n",
                        this->name_text());
        }
    }
}

template <bool Linked>
std::error_code boolean_type<Linked>::set_val(bool value, std::uint32_t flags)
{
    if (const std::error_code ec = this->check_access(true, flags)) {
        return ec;
    }
    const std::int64_t target = value ? on_value_ : off_value_;
    if constexpr (Linked) {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        return set_eval_val(*value_node_, target, flags);
    } else {
        if (target != value_) {
            value_ = target;
            this->propagate_change();
        }
        return {};
    }
}

template <bool Linked>
result<bool> boolean_type<Linked>::get_val(std::uint32_t flags)
{
    if (const std::error_code ec = this->check_access(false, flags)) {
        return ec;
    }
    std::int64_t number = value_;
    if constexpr (Linked) {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        const result<std::int64_t> read = get_eval_val<std::int64_t>(*value_node_, flags);
        if (!read) {
            return read.error();
        }
        number = read.value();
    }
    if (number == on_value_) {
        return true;
    }
    if (number == off_value_) {
        return false;
    }
    GENICAM_LOG(1, "Boolean (\"%s\"). Invalid floating_value contents=%lld.\n", this->name_text(),
                static_cast<long long>(number));
    return number != 0;
}

template <bool Linked>
result<bool> boolean_type<Linked>::get_default(std::uint32_t flags)
{
    if (!default_.present()) {
        return make_error_code(errc::not_implemented);
    }
    const result<std::int64_t> number = default_.evaluate(flags);
    if (!number) {
        return number.error();
    }
    return number.value() != off_value_;
}

template class boolean_type<false>;
template class boolean_type<true>;

} // namespace GenICam::impl
