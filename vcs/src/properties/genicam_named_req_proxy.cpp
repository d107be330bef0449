#include "properties/genicam_named_req_proxy.h"
#include "properties/proxy_results.h"

#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "genicam/genicam_doc.h"
#include "genicam/genicam_error.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"

#include <algorithm>
#include <cstring>

namespace drv_genicam {

namespace {

using results::invalid_arg;
using results::not_implemented;
using results::too_small;

constexpr std::uint32_t trace = logging::level_trace;
constexpr std::uint32_t named_trace = logging::level_trace | logging::cat_named_requests;

// Named requests carry 8 header bytes before their text; the whole instance
// lies within these bounds.
constexpr std::uint32_t named_header_size = 8;
constexpr std::uint32_t named_instance_min = 10;
constexpr std::uint32_t named_instance_max = 1000;

bool is_invalid_address(const std::error_code& ec)
{
    return ec == GenICam::make_error_code(GenICam::errc::invalid_address);
}

// Requests below these sizes are refused before their id is looked at.
bool meets_preconditions(const KsPropDataRequest& request)
{
    return request.instance != nullptr && request.instance_size >= 4 && request.value != nullptr &&
           request.value_size >= 4;
}

// The text of a named request: from byte 8 up to the first zero byte, never
// reading the instance's last byte (the text's place for its terminator).
// Empty when the instance's size is outside the bounds.
std::string_view named_request_text(const KsPropDataRequest& request)
{
    if (request.instance_size < named_instance_min || request.instance_size > named_instance_max) {
        return {};
    }
    const char* begin = static_cast<const char*>(request.instance) + named_header_size;
    const std::size_t room = request.instance_size - named_header_size - 1;
    const void* zero = std::memchr(begin, 0, room);
    return {begin, zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - begin) : room};
}

std::uint32_t first_word(const void* value)
{
    std::uint32_t word = 0;
    std::memcpy(&word, value, sizeof(word));
    return word;
}

} // namespace

genicam_named_req_proxy::genicam_named_req_proxy(gen_property::gen_property_reqistry& registry) : registry_(registry)
{
}

genicam_named_req_proxy::~genicam_named_req_proxy() = default;

std::error_code genicam_named_req_proxy::init_and_register(const void* xml_text, std::size_t length,
                                                           GenICam::IDevicePort* port)
{
    log_line(trace, "[CamTovra] Creating doc for doc with len={}.\n", length);
    doc_entry entry;
    const char* text = static_cast<const char*>(xml_text);
    entry.xml_text.assign(text, text + (text != nullptr ? length : 0));
    entry.port = port;
    auto document = std::make_unique<GenICam::impl::genicam_doc>();
    if (!document->load_xml(entry.xml_text.data(), entry.xml_text.size(), 1, show_debug_properties)) {
        log_line(logging::level_error, "[CamTovra] Failed to parse and build GenICam document.\n");
        return invalid_arg();
    }
    GenICam::IPort* device = document->find_port("Device");
    if (device != nullptr && port != nullptr) {
        if (const std::error_code bound = device->bind(port)) {
            log_line(logging::level_error, "[CamTovra] Failed to bind Device port due to {}.\n", bound.message());
        }
    } else {
        log_line(logging::level_error, "[CamTovra] Failed to find Device port.\n");
    }
    GenICam::INode* compat = document->find_node("KyvDriverCompatibilityMode");
    if (compat != nullptr && compat->get_node_type() == GenICam::node_type::Integer && compat->is_implemented()) {
        if (const std::error_code set = static_cast<GenICam::IInteger*>(compat)->set_val(1)) {
            log_line(logging::level_warning, "[CamTovra] Failed to enable KyvDriverCompatibilityMode mode, {}.\n",
                     set);
        } else {
            log_line(trace, "[CamTovra] Enabled KyvDriverCompatibilityMode mode.\n");
        }
    }
    entry.document = std::move(document);
    docs_.push_back(std::move(entry));
    return {};
}

void genicam_named_req_proxy::register_handlers()
{
    log_line(trace, "[CamTovra] drv_genicam::genicam_named_req_proxy::init_and_register, has {} docs.\n",
             docs_.size());
    if (docs_.empty()) {
        return;
    }
    for (const std::uint32_t id : {id_xml_size, id_xml_text, id_named_request, id_register_access}) {
        registry_.register_handler(cam::property_req_key{cam::PROPSETID_GENERIC_DRIVER_INTERFACE, id}, this, 0);
    }
}

std::error_code genicam_named_req_proxy::get_request(KsPropDataRequest& request)
{
    if (!meets_preconditions(request)) {
        return invalid_arg();
    }
    if (request.query_flags != 0 ||
        !cam::same_guid(request.property_set, cam::PROPSETID_GENERIC_DRIVER_INTERFACE)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case id_xml_size:
    case id_xml_text: return document_request(request);
    case id_named_request: return named_get_request(request);
    case id_register_access: return register_access(request);
    default: return not_implemented();
    }
}

std::error_code genicam_named_req_proxy::set_request(KsPropDataRequest& request)
{
    if (!meets_preconditions(request) ||
        !cam::same_guid(request.property_set, cam::PROPSETID_GENERIC_DRIVER_INTERFACE)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case id_named_request: return named_set_request(request);
    case id_register_access:
        if (request.query_flags != 0) {
            return not_implemented();
        }
        return register_access(request);
    default: return not_implemented();
    }
}

// Ids 1 and 2: instance {u32 selector >= 1, u32 document index}.
std::error_code genicam_named_req_proxy::document_request(KsPropDataRequest& request)
{
    if (request.instance_size < 8) {
        return invalid_arg();
    }
    std::uint32_t selector_and_index[2] = {};
    std::memcpy(selector_and_index, request.instance, sizeof(selector_and_index));
    if (selector_and_index[0] < 1 || selector_and_index[1] >= docs_.size()) {
        return invalid_arg();
    }
    const std::vector<char>& text = docs_[selector_and_index[1]].xml_text;
    const auto size = static_cast<std::uint32_t>(text.size());
    if (request.property_id == id_xml_size) {
        std::memcpy(request.value, &size, sizeof(size));
        request.bytes_returned = sizeof(size);
        return {};
    }
    if (request.value_size < size) {
        return too_small();
    }
    std::memcpy(request.value, text.data(), size);
    request.bytes_returned = size;
    return {};
}

std::error_code genicam_named_req_proxy::named_get_request(KsPropDataRequest& request)
{
    const std::string_view text = named_request_text(request);
    if (text.empty()) {
        log_line(logging::level_error,
                 "[CamTovra] drv_genicam::genicam_named_req_proxy::named_get_request, invalid request layout.");
        return invalid_arg();
    }
    const std::error_code result =
        exec_named_get_request(text, request.value, request.value_size, request.bytes_returned);
    const std::uint32_t hr = static_cast<std::uint32_t>(cam::to_hresult(result));
    if (request.bytes_returned >= 9) {
        log_line(named_trace, "[CamTovra] >> Get (named) request: req_string={}, out_len={}, status={}.\n", text,
                 request.bytes_returned, hr);
        log_line(named_trace, "<<\n");
    } else if (request.bytes_returned >= 4) {
        log_line(named_trace,
                 "[CamTovra] == Get (named) request: req_string={}, value=0x{:x}, out_len={}, status={}.\n", text,
                 first_word(request.value), request.bytes_returned, hr);
    } else {
        log_line(named_trace, "[CamTovra] == Get (named) request, req_string={}, out_len={}, status={}.\n", text,
                 request.bytes_returned, hr);
    }
    return result;
}

std::error_code genicam_named_req_proxy::named_set_request(KsPropDataRequest& request)
{
    const std::string_view text = named_request_text(request);
    if (text.empty()) {
        log_line(logging::level_error, "drv_genicam::genicam_named_req_proxy::set_request, invalid request layout.");
        return invalid_arg();
    }
    const std::error_code result = exec_named_set_request(text, request.value, request.value_size);
    const std::uint32_t hr = static_cast<std::uint32_t>(cam::to_hresult(result));
    if (request.value_size >= 4) {
        log_line(named_trace,
                 "[CamTovra] == Set (named) request: req_string={}, value=0x{:x}, out_len={}, status={}.\n", text,
                 first_word(request.value), request.value_size, hr);
    } else {
        log_line(named_trace, "[CamTovra] == Set (named) request: req_string={}, out_len={}, status={}.\n", text,
                 request.value_size, hr);
    }
    return result;
}

// Id 24: each document's port in turn until one knows the address.
std::error_code genicam_named_req_proxy::register_access(KsPropDataRequest& request)
{
    if (request.instance_size < 8) {
        return invalid_arg();
    }
    std::uint64_t address = 0;
    std::memcpy(&address, request.instance, sizeof(address));
    if (request.value_size > cam::max_raw_access_size) {
        log_line(logging::level_error,
                 "[CamTovra] drv_genicam::genicam_named_req_proxy::register_access, refused a raw access of {} bytes "
                 "at 0x{:x} (the limit is {}).\n",
                 request.value_size, address, cam::max_raw_access_size);
        return invalid_arg();
    }
    const bool write = request.request_type == KsPropDataRequest::set;
    for (const doc_entry& entry : docs_) {
        if (entry.port == nullptr) {
            continue;
        }
        // A camera's port reads the whole length or fails; a register of the
        // service's own document is answered by a handler that may write
        // fewer bytes, and the client is told what it wrote.
        std::uint32_t written = request.value_size;
        std::error_code result;
        if (entry.port == static_cast<GenICam::IDevicePort*>(this)) {
            result = port_access(address, request.value, request.value_size, write, &written);
        } else if (write) {
            result = entry.port->write(address, request.value, request.value_size, 0);
        } else {
            result = entry.port->read(address, request.value, request.value_size, 0);
        }
        if (!result) {
            if (!write) {
                request.bytes_returned = std::min(written, request.value_size);
            }
            return {};
        }
        if (!is_invalid_address(result)) {
            return result;
        }
    }
    return GenICam::make_error_code(GenICam::errc::invalid_address);
}

std::optional<std::pair<GUID, std::uint32_t>>
genicam_named_req_proxy::request_address_to_identifier(std::uint64_t address)
{
    const auto high = static_cast<std::uint32_t>(address >> 32);
    if (high != 0xBCEA5412 && high != 0xCEBB0001) {
        log_line(logging::level_error,
                 "[CamTovra] request_address_to_identifier, invalid address (0x{:x} passed to driver property.\n",
                 address);
        return std::nullopt;
    }
    return std::make_pair(cam::PROPSETID_EMULATED_REGISTER, static_cast<std::uint32_t>(address));
}

std::error_code genicam_named_req_proxy::read(std::uint64_t address, void* buffer, std::int64_t length,
                                              std::uint32_t)
{
    return port_access(address, buffer, length, false);
}

std::error_code genicam_named_req_proxy::write(std::uint64_t address, const void* data, std::int64_t length,
                                               std::uint32_t)
{
    return port_access(address, const_cast<void*>(data), length, true);
}

// A register access of the service's document as a request of the handler
// that owns the register; the buffer is both instance and value.
std::error_code genicam_named_req_proxy::port_access(std::uint64_t address, void* buffer, std::int64_t length,
                                                     bool write, std::uint32_t* written)
{
    const auto identifier = request_address_to_identifier(address);
    if (!identifier) {
        return GenICam::make_error_code(GenICam::errc::invalid_address);
    }
    if (length < 0 || length > static_cast<std::int64_t>(UINT32_MAX)) {
        return GenICam::make_error_code(GenICam::errc::invalid_parameter);
    }
    KsPropDataRequest request{};
    request.request_type = write ? KsPropDataRequest::set : KsPropDataRequest::get;
    request.property_set = identifier->first;
    request.property_id = identifier->second;
    request.instance = buffer;
    request.instance_size = static_cast<std::uint32_t>(length);
    request.value = buffer;
    request.value_size = static_cast<std::uint32_t>(length);
    const std::error_code result = write ? registry_.set_request(request, 2) : registry_.get_request(request, 2);
    if (written != nullptr) {
        *written = request.bytes_returned;
    }
    return result;
}

GenICam::INode* genicam_named_req_proxy::find_node(std::string_view name)
{
    for (const doc_entry& entry : docs_) {
        if (GenICam::INode* node = entry.document->find_node(name)) {
            return node;
        }
    }
    return nullptr;
}

} // namespace drv_genicam
