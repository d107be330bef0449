#pragma once
// SwissKnife nodes compute one read-only value from a formula over other
// nodes. The formula is compiled once while the document is built and
// evaluated anew on every read. IntSwissKnife nodes also serve as address
// terms of registers.

#include "genicam/formula_program.h"
#include "genicam/formula_variables.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_dependent_cache.h"

#include <cstdint>

namespace GenICam::impl {

// The formula half of both SwissKnife classes.
class swissknife_formula {
public:
    void resolve(node_base_data& self, bool is_integer);
    // Runs the formula; "TO" and "FROM" are ordinary names here, the input is 0.
    result<genicam::formula::formula_value> evaluate(std::uint32_t flags) const;

    formula_variables variables;
    genicam::formula::formula_program formula;
};

class int_swissknife_type final : public node_base_impl_dependent_cache,
                                  public implement_inode<int_swissknife_type, IInteger> {
public:
    explicit int_swissknife_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    integer_representation get_representation() override;
    std::string_view get_unit() override;
    std::vector<INode*> get_selected_features() override;
    std::error_code set_val(std::int64_t value, std::uint32_t flags = 0) override;
    result<std::int64_t> get_val(std::uint32_t flags = 0) override;
    result<std::int64_t> get_min(std::uint32_t flags = 0) override;
    result<std::int64_t> get_max(std::uint32_t flags = 0) override;
    result<std::int64_t> get_inc(std::uint32_t flags = 0) override;
    result<std::int64_t> get_default(std::uint32_t flags = 0) override;

private:
    swissknife_formula formula_;
};

class float_swissknife_type final : public node_base_impl_dependent_cache,
                                    public implement_inode<float_swissknife_type, IFloat> {
public:
    explicit float_swissknife_type(const node_init& init);

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

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

private:
    swissknife_formula formula_;
};

} // namespace GenICam::impl
