#pragma once
// FloatReg: a 4-byte or 8-byte IEEE 754 register presented as a float, in
// the register's byte order.

#include "genicam/ifloat.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_value.h"
#include "genicam/register_address_eval.h"
#include "genicam/register_cache.h"

#include <cstdint>
#include <utility>

namespace GenICam::impl {

class float_reg_type_base : public node_base_impl_value, public implement_inode<float_reg_type_base, IFloat> {
public:
    explicit float_reg_type_base(const node_init& init);

    INode& get_inode() override { return *this; }
    void drop_cached_state() override { cache_.invalidate(); }

    virtual result<std::pair<std::int64_t, std::int64_t>> get_address(std::uint32_t flags) = 0;
    virtual std::int64_t get_length() = 0;

    float_representation get_representation() override;
    std::string_view get_unit() override;
    display_notation get_display_notation() override;
    std::int32_t get_display_precision() override;
    std::error_code set_val(double value, std::uint32_t flags = 0) override;
    result<double> get_val(std::uint32_t flags = 0) override;
    result<double> get_min(std::uint32_t flags = 0) override;
    result<double> get_max(std::uint32_t flags = 0) override;
    result<double> get_default(std::uint32_t flags = 0) override;
    result<double> get_inc(std::uint32_t flags = 0) override;

protected:
    ~float_reg_type_base() = default;

    register_cache cache_;
};

class float_reg_type_const_address final : public float_reg_type_base {
public:
    explicit float_reg_type_const_address(const node_init& init);

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    result<std::pair<std::int64_t, std::int64_t>> get_address(std::uint32_t flags) override;
    std::int64_t get_length() override { return address_.length; }

private:
    register_const_address_eval address_;
};

class float_reg_type_dyn final : public float_reg_type_base {
public:
    using float_reg_type_base::float_reg_type_base;

    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    result<std::pair<std::int64_t, std::int64_t>> get_address(std::uint32_t flags) override;
    std::int64_t get_length() override;

private:
    address_eval address_;
};

} // namespace GenICam::impl
