#pragma once
// Port nodes: the way register nodes reach a device or a block of chunk data.
// A device port forwards every access to the IDevicePort that the document's
// owner binds to it; a chunk port serves accesses from data attached to it.
// Neither owns what it is given.

#include "genicam/idevice_port.h"
#include "genicam/implement_inode.h"
#include "genicam/iport.h"
#include "genicam/link_or_value.h"
#include "genicam/node_base_impl_ignore_dependent.h"

#include <cstdint>

namespace GenICam::impl {

class port_device_type final : public node_base_impl_ignore_dependent,
                               public implement_inode<port_device_type, IPort> {
public:
    explicit port_device_type(const node_init& init) : node_base_impl_ignore_dependent(init) {}

    INode& get_inode() override { return *this; }

    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) override;
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                          std::uint32_t flags) override;
    std::error_code bind(IDevicePort* device_port) override;
    std::error_code attach_chunk(std::uint64_t base_address, std::uint8_t* data, std::int64_t length) override;
    void unbind() override { device_port_ = nullptr; }
    bool is_bound() const override { return device_port_ != nullptr; }
    result<std::int64_t> get_chunk_id(std::uint32_t flags) override;

private:
    IDevicePort* device_port_ = nullptr;
};

class port_chunk_type final : public node_base_impl_ignore_dependent,
                              public implement_inode<port_chunk_type, IPort> {
public:
    explicit port_chunk_type(const node_init& init) : node_base_impl_ignore_dependent(init) {}

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) override;
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                          std::uint32_t flags) override;
    std::error_code bind(IDevicePort* device_port) override;
    std::error_code attach_chunk(std::uint64_t base_address, std::uint8_t* data, std::int64_t length) override;
    void unbind() override;
    bool is_bound() const override { return data_ != nullptr; }
    result<std::int64_t> get_chunk_id(std::uint32_t flags) override;

private:
    // Where in the attached block an access of `length` bytes at `address`
    // lands; an error when any byte of it lies outside the block.
    result<std::uint64_t> locate(std::uint64_t address, std::int64_t length, bool for_write);

    link_or_value<std::int64_t> chunk_id_;
    std::uint8_t* data_ = nullptr;
    std::uint64_t base_address_ = 0;
    std::int64_t data_length_ = 0;
};

} // namespace GenICam::impl
