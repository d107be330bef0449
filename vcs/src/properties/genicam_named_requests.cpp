// Named feature access of genicam_named_req_proxy: "Target/Attribute[/Third]"
// read or written on the first document that knows the target.
#include "properties/genicam_named_req_proxy.h"
#include "properties/proxy_results.h"
#include "properties/named_request.h"

#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "genicam/genicam_error.h"
#include "genicam/iboolean.h"
#include "genicam/icommand.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/iregister.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace drv_genicam {

namespace {

using results::invalid_arg;
using results::not_implemented;
using results::too_small;

constexpr std::uint32_t trace = logging::level_trace;
constexpr std::uint32_t answer_size = 8;
constexpr std::uint32_t entry_name_max = 1000;

// Writes an 8-byte answer: the size is reported whether or not it fits.
template <class T>
std::error_code write_answer(const T& answer, void* value, std::uint32_t value_length, std::uint32_t& returned)
{
    static_assert(sizeof(T) == answer_size);
    returned = answer_size;
    if (value == nullptr || value_length < answer_size) {
        return too_small();
    }
    std::memcpy(value, &answer, answer_size);
    return {};
}

template <class T>
std::error_code write_result(const GenICam::result<T>& read, void* value, std::uint32_t value_length,
                             std::uint32_t& returned)
{
    if (!read) {
        return read.error();
    }
    if constexpr (std::is_same_v<T, bool>) {
        return write_answer(std::uint64_t{read.value() ? 1u : 0u}, value, value_length, returned);
    } else {
        return write_answer(read.value(), value, value_length, returned);
    }
}

// "IsLocked", "IsImplemented", "IsAvailable" of any node; none for another text.
std::optional<GenICam::result<bool>> node_state(GenICam::INode& node, std::string_view attribute)
{
    if (attribute == "IsLocked") {
        return node.is_locked(0);
    }
    if (attribute == "IsImplemented") {
        return node.is_implemented(0);
    }
    if (attribute == "IsAvailable") {
        return node.is_available(0);
    }
    return std::nullopt;
}

template <class Numeric>
std::error_code get_numeric(Numeric& node, std::string_view attribute, void* value, std::uint32_t value_length,
                            std::uint32_t& returned)
{
    if (attribute == "Value") {
        return write_result(node.get_val(0), value, value_length, returned);
    }
    if (attribute == "Min") {
        return write_result(node.get_min(0), value, value_length, returned);
    }
    if (attribute == "Max") {
        return write_result(node.get_max(0), value, value_length, returned);
    }
    if (attribute == "Inc") {
        return write_result(node.get_inc(0), value, value_length, returned);
    }
    if (attribute == "Default") {
        return write_result(node.get_default(0), value, value_length, returned);
    }
    return invalid_arg();
}

std::error_code get_enumeration(GenICam::IEnumeration& node, const named_request& request, void* value,
                                 std::uint32_t value_length, std::uint32_t& returned)
{
    if (request.attribute == "SelectedEntry" || request.attribute == "Index") {
        const auto selected = node.get_entry(0);
        if (!selected) {
            return selected.error();
        }
        if (request.attribute == "Index") {
            const auto entries = node.get_entries();
            const auto at = std::find(entries.begin(), entries.end(), selected.value());
            return write_answer(static_cast<std::uint64_t>(at - entries.begin()), value, value_length, returned);
        }
        // The name without terminator, in a buffer longer than the name.
        const std::string_view name = selected.value()->get_name();
        if (value == nullptr || value_length <= name.size()) {
            return too_small();
        }
        std::memcpy(value, name.data(), name.size());
        returned = static_cast<std::uint32_t>(name.size());
        return {};
    }
    GenICam::IEnumEntry* entry = node.find_entry_by_name(request.attribute);
    if (entry == nullptr) {
        return invalid_arg();
    }
    const auto state = node_state(*entry, request.third);
    if (!state) {
        return not_implemented();
    }
    return write_result(*state, value, value_length, returned);
}

std::error_code get_register(GenICam::IRegister& node, std::string_view attribute, void* value,
                             std::uint32_t value_length, std::uint32_t& returned)
{
    if (attribute == "Length") {
        return write_result(node.get_length(0), value, value_length, returned);
    }
    if (attribute == "Address") {
        return write_result(node.get_address(0), value, value_length, returned);
    }
    if (attribute != "Value") {
        return invalid_arg();
    }
    const auto length = node.get_length(0);
    if (!length) {
        return length.error();
    }
    if (value == nullptr || value_length == 0) {
        returned = static_cast<std::uint32_t>(std::clamp<std::int64_t>(length.value(), 0, UINT32_MAX));
        return too_small();
    }
    const std::int64_t count = std::min<std::int64_t>(value_length, length.value());
    returned = static_cast<std::uint32_t>(std::max<std::int64_t>(count, 0));
    return node.get_bytes(value, count, 0);
}

std::int64_t read_int64(const void* value)
{
    std::int64_t v = 0;
    std::memcpy(&v, value, sizeof(v));
    return v;
}

std::error_code set_enumeration(GenICam::IEnumeration& node, std::string_view attribute, const void* value,
                                std::uint32_t value_length)
{
    if (attribute == "SelectedEntry") {
        if (value_length < 1 || value_length > entry_name_max) {
            return too_small();
        }
        // The bytes up to a zero byte, if any, name the entry.
        const char* text = static_cast<const char*>(value);
        const std::string name(text, strnlen(text, value_length));
        return node.set_entry(node.find_entry_by_name(name), 0);
    }
    if (attribute == "Index") {
        if (value_length < answer_size) {
            return too_small();
        }
        const std::int64_t position = read_int64(value);
        const auto entries = node.get_entries();
        if (position < 0 || static_cast<std::uint64_t>(position) >= entries.size()) {
            return invalid_arg();
        }
        return node.set_entry(entries[static_cast<std::size_t>(position)], 0);
    }
    return not_implemented();
}

} // namespace

std::error_code genicam_named_req_proxy::exec_named_get_request(std::string_view text, void* value,
                                                                std::uint32_t value_length, std::uint32_t& returned)
{
    const named_request request = split_named_request(text);
    if (request.target.empty() || request.attribute.empty()) {
        log_line(trace, "[CamTovra] User request did not contain a request_target.\n");
        return invalid_arg();
    }
    GenICam::INode* node = find_node(request.target);
    if (node == nullptr) {
        log_line(trace,
                 "[CamTovra] drv_genicam::genicam_named_req_proxy::exec_named_get_request, did not find property "
                 "node for request_target={}.\n",
                 request.target);
        return invalid_arg();
    }
    if (const auto state = node_state(*node, request.attribute)) {
        return write_result(*state, value, value_length, returned);
    }
    switch (node->get_node_type()) {
    case GenICam::node_type::Integer:
        return get_numeric(*static_cast<GenICam::IInteger*>(node), request.attribute, value, value_length, returned);
    case GenICam::node_type::Float:
        return get_numeric(*static_cast<GenICam::IFloat*>(node), request.attribute, value, value_length, returned);
    case GenICam::node_type::Boolean: {
        auto& boolean = *static_cast<GenICam::IBoolean*>(node);
        if (request.attribute == "Value") {
            return write_result(boolean.get_val(0), value, value_length, returned);
        }
        if (request.attribute == "Default") {
            return write_result(boolean.get_default(0), value, value_length, returned);
        }
        return invalid_arg();
    }
    case GenICam::node_type::Command:
        if (request.attribute == "IsDone") {
            return write_result(static_cast<GenICam::ICommand*>(node)->is_done(0), value, value_length, returned);
        }
        return invalid_arg();
    case GenICam::node_type::Enumeration:
        return get_enumeration(*static_cast<GenICam::IEnumeration*>(node), request, value, value_length, returned);
    case GenICam::node_type::Register:
        return get_register(*static_cast<GenICam::IRegister*>(node), request.attribute, value, value_length,
                            returned);
    default: return invalid_arg();
    }
}

std::error_code genicam_named_req_proxy::exec_named_set_request(std::string_view text, const void* value,
                                                                std::uint32_t value_length)
{
    const named_request request = split_named_request(text);
    if (request.target.empty() || request.attribute.empty()) {
        log_line(trace, "[CamTovra] User request did not contain a request_target.\n");
        return invalid_arg();
    }
    GenICam::INode* node = find_node(request.target);
    if (node == nullptr) {
        log_line(trace,
                 "[CamTovra] drv_genicam::genicam_named_req_proxy::exec_named_set_request, did not find property "
                 "node for request_target={}.\n",
                 request.target);
        return invalid_arg();
    }
    const GenICam::node_type kind = node->get_node_type();
    if (value == nullptr && kind != GenICam::node_type::Command) {
        return make_cam_error(E_POINTER);
    }
    switch (kind) {
    case GenICam::node_type::Command:
        if (request.attribute == "Execute") {
            return static_cast<GenICam::ICommand*>(node)->execute(0);
        }
        return not_implemented();
    case GenICam::node_type::Float:
    case GenICam::node_type::Integer:
    case GenICam::node_type::Boolean: {
        if (value_length < answer_size) {
            return too_small();
        }
        if (request.attribute != "Value") {
            return not_implemented();
        }
        const std::int64_t bits = read_int64(value);
        if (kind == GenICam::node_type::Float) {
            double number = 0;
            std::memcpy(&number, &bits, sizeof(number));
            return static_cast<GenICam::IFloat*>(node)->set_val(number, 0);
        }
        if (kind == GenICam::node_type::Integer) {
            return static_cast<GenICam::IInteger*>(node)->set_val(bits, 0);
        }
        return static_cast<GenICam::IBoolean*>(node)->set_val(bits != 0, 0);
    }
    case GenICam::node_type::Enumeration:
        return set_enumeration(*static_cast<GenICam::IEnumeration*>(node), request.attribute, value, value_length);
    case GenICam::node_type::Register:
        if (request.attribute != "Value") {
            return not_implemented();
        }
        return static_cast<GenICam::IRegister*>(node)->set_bytes(value, value_length, 0);
    default: return not_implemented();
    }
}

} // namespace drv_genicam
