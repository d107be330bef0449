#pragma once
// Bit fields of a register as integers: MaskedIntReg (a field of its own
// register of 1 to 8 bytes) and StructEntry (a field of the register that its
// parent StructReg describes, whose address, length, port and byte order it
// takes). Both read the whole register and write it back read-modify-write.

#include "genicam/iinteger.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_value.h"
#include "genicam/register_address_eval.h"
#include "genicam/register_cache.h"

#include <cstdint>

namespace GenICam::impl {

// What both families share: the field's reads, writes and limits over a
// register whose address and length the class supplies.
class bit_field_register : public node_base_impl_value, public implement_inode<bit_field_register, IInteger> {
public:
    explicit bit_field_register(const node_init& init) : node_base_impl_value(init) {}

    INode& get_inode() override { return *this; }
    void drop_cached_state() override { cache_.invalidate(); }

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
    ~bit_field_register() = default;

    struct location {
        std::int64_t address;
        std::int64_t length;
    };
    // Address and length of one access.
    virtual result<location> locate(std::uint32_t flags) = 0;
    // The length the limits are checked against.
    virtual result<std::int64_t> field_length(std::uint32_t flags) = 0;

    // The location, refused (0x80000102) when the length is outside 1 to 8 or
    // a bit number lies outside the register.
    result<location> checked_location(std::uint32_t flags);
    result<std::uint64_t> read_raw(const location& at, std::uint32_t flags);

    // Runs after a write of the register's new bytes `raw` at `at` succeeded,
    // with the write's flags.
    virtual void register_written(const location&, std::uint64_t, std::uint32_t) {}
    // Runs after the register's bytes `raw` at `at` were read from the device.
    virtual void register_read(const location&, std::uint64_t) {}

    register_cache cache_;
    bit_range bits_;
    bool unsigned_ = true;
};

class masked_int_reg_type_base : public bit_field_register {
public:
    explicit masked_int_reg_type_base(const node_init& init);

protected:
    ~masked_int_reg_type_base() = default;
    // Length (1 to 8; 0 or above 8 give 4; unreadable or negative give 1) and
    // the port.
    void resolve_length_and_port(IGenICamDoc& document);
    result<std::int64_t> field_length(std::uint32_t) override { return length_; }

    std::int32_t length_ = 1;
};

class masked_int_reg_type_const_address final : public masked_int_reg_type_base {
public:
    explicit masked_int_reg_type_const_address(const node_init& init);

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

private:
    result<location> locate(std::uint32_t flags) override;

    std::int64_t address_ = 0;
};

class masked_int_reg_type_dyn_address final : public masked_int_reg_type_base {
public:
    using masked_int_reg_type_base::masked_int_reg_type_base;

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

private:
    result<location> locate(std::uint32_t flags) override;

    address_eval address_;
};

class struct_entry_type final : public bit_field_register {
public:
    explicit struct_entry_type(const node_init& init);

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

private:
    result<location> locate(std::uint32_t flags) override;
    result<std::int64_t> field_length(std::uint32_t flags) override;
    void register_written(const location& at, std::uint64_t raw, std::uint32_t flags) override;
    void register_read(const location& at, std::uint64_t raw) override;
    // The other entries of the StructReg take the register's bytes `raw`.
    void share_with_siblings(const location& at, std::uint64_t raw, bool device_took_them);

    // The StructReg's children: its address, length, port and defaults.
    const element_children* parent_;
    address_eval parent_address_;
};

} // namespace GenICam::impl
