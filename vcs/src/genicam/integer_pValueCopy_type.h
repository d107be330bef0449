#pragma once
// An Integer whose value lives in its "pValue" node and whose every write is
// copied to the "pValueCopy" nodes as well.

#include "genicam/implement_inode_IInteger.h"
#include "genicam/node_base_impl_dependent_cache.h"
#include "genicam/small_vector.h"

namespace GenICam::impl {

class integer_pValueCopy_type final : public node_base_impl_dependent_cache,
                                      public implement_inode_IInteger<integer_pValueCopy_type> {
public:
    explicit integer_pValueCopy_type(const node_init& init)
        : node_base_impl_dependent_cache(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return value_node_; }

    // Writes every target in document order; the first failure stops the
    // walk and is returned (targets written before keep the new value).
    std::error_code set_val(std::int64_t value, std::uint32_t flags) override;
    result<std::int64_t> get_val(std::uint32_t flags) override;

    // The largest Min and the smallest Max of all targets.
    result<std::int64_t> min_fallback(std::uint32_t flags);
    result<std::int64_t> max_fallback(std::uint32_t flags);
    result<std::int64_t> inc_fallback(std::uint32_t flags);
    result<std::int64_t> default_fallback(std::uint32_t flags);

private:
    INode* value_node_ = nullptr;
    small_vector<INode*, 3> copy_targets_;
};

} // namespace GenICam::impl
