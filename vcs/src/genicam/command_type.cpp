#include "genicam/command_type.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"
#include "genicam/xml_value_readers.h"

namespace GenICam::impl {

template <bool Linked>
void command_type<Linked>::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    if constexpr (Linked) {
        value_node_ = this->services->find_node(this->child("pValue"));
        if (value_node_ != nullptr) {
            value_node_->get_eval().add_dependent(*this);
        } else {
            GENICAM_LOG(1, "Command (\"%s\"). Failed to parse/resolve contents of \"pValue\" xml node.\n",
                        this->name_text());
        }
    } else {
        const parsed_integer value = parse_integer_text(this->child("Value"));
        if (value.ok()) {
            value_ = value.value;
        } else {
            GENICAM_LOG(1, "Command (\"%s\"). Failed to parse contents of \"Value\" xml node.\n", this->name_text());
        }
    }
    command_value_ = resolve_link_or_value_<std::int64_t>(*this, "CommandValue", "pCommandValue");
    if (!command_value_.present()) {
        GENICAM_LOG(1, "Command (\"%s\"). Failed to parse contents of \"CommandValue\"/\"pCommandValue\" xml node.\n",
                    this->name_text());
    }
}

template <bool Linked>
std::optional<std::int64_t> command_type<Linked>::get_polling_time()
{
    return read_polling_time(*this->children);
}

template <bool Linked>
std::error_code command_type<Linked>::execute(std::uint32_t flags)
{
    if (const std::error_code ec = this->check_access(true, flags)) {
        return ec;
    }
    if (!command_value_.present()) {
        return make_error_code(errc::not_implemented);
    }
    const result<std::int64_t> command = command_value_.evaluate(flags);
    if (!command) {
        return command.error();
    }
    if constexpr (Linked) {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        return set_eval_val(*value_node_, command.value(), flags);
    } else {
        if (command.value() != value_) {
            value_ = command.value();
            this->propagate_change();
        }
        return {};
    }
}

template <bool Linked>
result<bool> command_type<Linked>::is_done(std::uint32_t flags)
{
    if (this->check_access(false, flags)) {
        return true;
    }
    if (!command_value_.present()) {
        return make_error_code(errc::not_implemented);
    }
    const result<std::int64_t> command = command_value_.evaluate(flags);
    if (!command) {
        return command.error();
    }
    if constexpr (Linked) {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        // The device ends a command by changing its target back, which a
        // register cache would hide: the execute left the command value in
        // a write-through cache. So the target is read from the device,
        // unless the caller asks for cached values only.
        const std::uint32_t target_flags =
            (flags & access_flags::cache_only) != 0 ? flags : flags | access_flags::bypass_cache;
        const result<std::int64_t> current = get_eval_val<std::int64_t>(*value_node_, target_flags);
        if (!current) {
            return current.error();
        }
        return current.value() != command.value();
    } else {
        return value_ != command.value();
    }
}

template class command_type<false>;
template class command_type<true>;

} // namespace GenICam::impl
