#include "genicam/port_type.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"

#include <cstring>

namespace GenICam::impl {

namespace {

std::error_code error(errc e)
{
    return make_error_code(e);
}

// The port's texts end in a backslash and an "n", not in a line break.
void log_not_bound(const node_base_data& port)
{
    GENICAM_LOG(1, "IPort (\"%s\"). Failed due to no bind called.\\n", port.name_text());
}

} // namespace

// Device port

std::error_code port_device_type::read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags)
{
    if (!device_port_) {
        log_not_bound(*this);
        return error(errc::invalid_parameter);
    }
    return device_port_->read(address, buffer, length, flags);
}

std::error_code port_device_type::write(std::uint64_t address, const void* data, std::int64_t length,
                                        std::uint32_t flags)
{
    if (!device_port_) {
        log_not_bound(*this);
        return error(errc::invalid_parameter);
    }
    return device_port_->write(address, data, length, flags);
}

std::error_code port_device_type::bind(IDevicePort* device_port)
{
    if (device_port_) {
        GENICAM_LOG(1, "IPort (\"%s\"). Failed due it already being bound.\\n", name_text());
        return error(errc::access_denied);
    }
    device_port_ = device_port;
    return {};
}

std::error_code port_device_type::attach_chunk(std::uint64_t, std::uint8_t*, std::int64_t)
{
    return error(errc::not_implemented);
}

result<std::int64_t> port_device_type::get_chunk_id(std::uint32_t)
{
    return error(errc::not_implemented);
}

// Chunk port

void port_chunk_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    const parsed_integer id = parse_hex_text(child("ChunkID"));
    if (id.ok()) {
        chunk_id_.kind = link_kind::literal;
        chunk_id_.literal = id.value;
        return;
    }
    if (INode* node = services->find_node(child("pChunkID"))) {
        chunk_id_.kind = link_kind::link;
        chunk_id_.node = node;
        node->get_eval().add_dependent(get_inode());
        return;
    }
    GENICAM_LOG(1, "IPort (\"%s\"). Failed to fetch ChunkID or pChunkID.\\n", name_text());
}

result<std::uint64_t> port_chunk_type::locate(std::uint64_t address, std::int64_t length, bool for_write)
{
    if (!data_) {
        log_not_bound(*this);
        return error(errc::invalid_parameter);
    }
    // All bounds in unsigned arithmetic from the offset into the block, so
    // that no address or length can overflow past the checks.
    const auto size = static_cast<std::uint64_t>(data_length_);
    const std::uint64_t offset = address - base_address_;
    if (address < base_address_ || offset > size) {
        GENICAM_LOG(1, "IPort (\"%s\"). Failed due to out of range address=%llu parameter.\\n", name_text(),
                    static_cast<unsigned long long>(address));
        return error(errc::invalid_address);
    }
    if (length < 0 || static_cast<std::uint64_t>(length) > size - offset) {
        if (for_write) {
            GENICAM_LOG(1, "IPort (\"%s\"). oFailed due to out of range data_len=%lld parameter.\\n", name_text(),
                        static_cast<long long>(length));
        } else {
            GENICAM_LOG(1, "IPort (\"%s\"). Failed due to out of range data_len=%lld parameter.\\n", name_text(),
                        static_cast<long long>(length));
        }
        return error(errc::index_out_of_range);
    }
    return offset;
}

std::error_code port_chunk_type::read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t)
{
    const result<std::uint64_t> at = locate(address, length, false);
    if (!at) {
        return at.error();
    }
    if (length > 0) {
        std::memcpy(buffer, data_ + at.value(), static_cast<std::size_t>(length));
    }
    return {};
}

std::error_code port_chunk_type::write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t)
{
    const result<std::uint64_t> at = locate(address, length, true);
    if (!at) {
        return at.error();
    }
    if (length > 0) {
        std::memcpy(data_ + at.value(), data, static_cast<std::size_t>(length));
    }
    return {};
}

std::error_code port_chunk_type::bind(IDevicePort*)
{
    return error(errc::not_implemented);
}

std::error_code port_chunk_type::attach_chunk(std::uint64_t base_address, std::uint8_t* data, std::int64_t length)
{
    if (data_) {
        GENICAM_LOG(1, "IPort (\"%s\"). Failed due to it already being bound.\\n", name_text());
        return error(errc::access_denied);
    }
    // A negative length would make every bound check meaningless.
    if (length < 0) {
        return error(errc::invalid_parameter);
    }
    base_address_ = base_address;
    data_ = data;
    data_length_ = length;
    fire_own_callbacks();
    return {};
}

void port_chunk_type::unbind()
{
    data_ = nullptr;
    base_address_ = 0;
    data_length_ = 0;
}

result<std::int64_t> port_chunk_type::get_chunk_id(std::uint32_t flags)
{
    return chunk_id_.evaluate(flags);
}

} // namespace GenICam::impl
