#pragma once
// Register blocks as byte strings: StringReg presents Length bytes as a text
// with a cache of the last text read or written; Register gives raw access to
// the first bytes of a block, without cache or byte order. Both evaluate
// their address and length on every access.

#include "genicam/implement_inode.h"
#include "genicam/iregister.h"
#include "genicam/istring.h"
#include "genicam/node_base_impl_value.h"
#include "genicam/register_address_eval.h"
#include "genicam/register_cache.h"

#include <cstdint>

namespace GenICam::impl {

// No StringReg is longer than this: a length from the description or from a
// pLength node is used to size the text that a read returns.
inline constexpr std::int64_t max_string_reg_length = 1 << 20;

class string_reg_type final : public node_base_impl_value, public implement_inode<string_reg_type, IString> {
public:
    explicit string_reg_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void drop_cached_state() override { cache_.invalidate(); }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    result<std::string> get_val(std::uint32_t flags = 0) override;
    std::error_code set_val(std::string_view value, std::uint32_t flags = 0) override;

private:
    result<std::pair<std::int64_t, std::int64_t>> checked_address(std::uint32_t flags);

    address_eval address_;
    string_cache cache_;
};

class register_type final : public node_base_impl_value, public implement_inode<register_type, IRegister> {
public:
    explicit register_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    std::optional<std::int64_t> get_polling_time() override;
    std::error_code get_bytes(void* buffer, std::int64_t length, std::uint32_t flags = 0) override;
    std::error_code set_bytes(const void* data, std::int64_t length, std::uint32_t flags = 0) override;
    result<std::int64_t> get_address(std::uint32_t flags = 0) override;
    result<std::int64_t> get_length(std::uint32_t flags = 0) override;

private:
    address_eval address_;
    IPort* port_ = nullptr;
};

} // namespace GenICam::impl
