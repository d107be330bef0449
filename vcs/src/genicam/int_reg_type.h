#pragma once
// IntReg: a whole register of 1 to 8 bytes presented as an integer, signed or
// unsigned, big- or little-endian. The constant class keeps address and
// length as numbers; the dynamic class evaluates them on every access.

#include "genicam/iinteger.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_value.h"
#include "genicam/register_address_eval.h"
#include "genicam/register_cache.h"

#include <cstdint>
#include <utility>

namespace GenICam::impl {

class int_reg_type_base : public node_base_impl_value, public implement_inode<int_reg_type_base, IInteger> {
public:
    explicit int_reg_type_base(const node_init& init);

    INode& get_inode() override { return *this; }
    void drop_cached_state() override { cache_.invalidate(); }

    // The register's (address, length) for one access.
    virtual result<std::pair<std::int64_t, std::int64_t>> get_address(std::uint32_t flags) = 0;
    // The length that the limits are computed for.
    virtual std::int64_t get_length() = 0;

    integer_representation get_representation() override;
    std::string_view get_unit() override;
    std::vector<INode*> get_selected_features() override;
    std::error_code set_val(std::int64_t value, std::uint32_t flags = 0) override;
    result<std::int64_t> get_val(std::uint32_t flags = 0) override;
    result<std::int64_t> get_min(std::uint32_t flags = 0) override;
    result<std::int64_t> get_max(std::uint32_t flags = 0) override;
    result<std::int64_t> get_inc(std::uint32_t flags = 0) override;
    result<std::int64_t> get_default(std::uint32_t flags = 0) override;

protected:
    ~int_reg_type_base() = default;
    // The (address, length) of an access, with the length checked.
    result<std::pair<std::int64_t, std::int64_t>> checked_address(std::uint32_t flags);
    // True when a read's access check needs only the node's own mode: no
    // condition link, no request to skip the check.
    bool plain_read_access(std::uint32_t flags) const noexcept;
    // The register's integer at (address, length), length 1 to 8, sign-extended
    // for signed registers.
    result<std::int64_t> read_at(std::uint64_t address, std::int64_t length, std::uint32_t flags);

    register_cache cache_;
    bool unsigned_ = true;
    // Set by registers whose address and length are constants and whose
    // length is valid: reads then skip the address evaluation.
    bool fixed_ = false;
    std::uint64_t fixed_address_ = 0;
    std::int64_t fixed_length_ = 0;
};

class int_reg_type_const_address final : public int_reg_type_base {
public:
    explicit int_reg_type_const_address(const node_init& init);

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    result<std::pair<std::int64_t, std::int64_t>> get_address(std::uint32_t flags) override;
    std::int64_t get_length() override { return address_.length; }

private:
    register_const_address_eval address_;
};

class int_reg_type_dyn final : public int_reg_type_base {
public:
    using int_reg_type_base::int_reg_type_base;

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    result<std::pair<std::int64_t, std::int64_t>> get_address(std::uint32_t flags) override;
    std::int64_t get_length() override;

private:
    address_eval address_;
};

// Limits of a whole register of `length` bytes: 0 .. 2^(8L)-1 (2^63-1 for 8
// bytes) unsigned, -2^(8L-1) .. 2^(8L-1)-1 signed.
result<std::int64_t> register_min(std::int64_t length, bool is_unsigned);
result<std::int64_t> register_max(std::int64_t length, bool is_unsigned);

} // namespace GenICam::impl
