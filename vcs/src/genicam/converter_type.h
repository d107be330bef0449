#pragma once
// Converter nodes stand in front of one target node (pValue) and translate
// its value both ways: FormulaFrom on reads, FormulaTo on writes. Their
// formulas are compiled once while the document is built and run on every
// read and write; the node keeps no value of its own.

#include "genicam/formula_program.h"
#include "genicam/formula_variables.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_dependent_cache.h"

#include <cstdint>

namespace GenICam::impl {

// The formula half of both converter classes.
class converter_formulas {
public:
    // Binds pValue, the variables and both formulas; every problem is logged
    // and leaves the formulas empty.
    void resolve(node_base_data& self, bool is_integer);
    // The target's value through FormulaFrom, as the formula computed it.
    result<genicam::formula::formula_value> read(std::uint32_t flags);
    // The written value through FormulaTo, then into the target.
    std::error_code write(genicam::formula::formula_value value, std::uint32_t flags);

    INode* target = nullptr;
    formula_variables variables;
    genicam::formula::formula_program formula_to;
    genicam::formula::formula_program formula_from;
};

class int_converter_type final : public node_base_impl_dependent_cache,
                                 public implement_inode<int_converter_type, IInteger> {
public:
    explicit int_converter_type(const node_init& init) : node_base_impl_dependent_cache(init) {}

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return formulas_.target; }

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
    converter_formulas formulas_;
};

class float_converter_type final : public node_base_impl_dependent_cache,
                                   public implement_inode<float_converter_type, IFloat> {
public:
    explicit float_converter_type(const node_init& init) : node_base_impl_dependent_cache(init) {}

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return formulas_.target; }

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
    converter_formulas formulas_;
};

// What formula nodes of either kind report: an integer node rounds a double
// result (halves away from zero), a float node widens an integer one.
std::int64_t formula_result_as_integer(genicam::formula::formula_value v) noexcept;
double formula_result_as_double(genicam::formula::formula_value v) noexcept;

} // namespace GenICam::impl
