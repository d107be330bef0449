#include "genicam/node_base_impl_value.h"

#include "genicam/genicam_log.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace GenICam::impl {

namespace {

// The entries a closure has listed so far: open addressing over a table at
// most half full, whose size is a power of two. A lookup is a probe or two,
// and an insertion allocates only when the table grows, not once per entry as
// a node-based set would for every node whose closure grows.
class listed_entries {
public:
    explicit listed_entries(std::span<IEval* const> entries)
    {
        rehash(std::bit_ceil(std::max<std::size_t>(2 * entries.size() + 2, 16)));
        for (IEval* entry : entries) {
            insert(entry);
        }
    }

    bool contains(const IEval* entry) const noexcept
    {
        for (std::size_t at = slot_of(entry);; at = (at + 1) & mask_) {
            if (slots_[at] == entry) {
                return true;
            }
            if (slots_[at] == nullptr) {
                return false;
            }
        }
    }

    void insert(IEval* entry)
    {
        if (2 * (count_ + 1) > slots_.size()) {
            rehash(2 * slots_.size());
        }
        std::size_t at = slot_of(entry);
        while (slots_[at] != nullptr) {
            if (slots_[at] == entry) {
                return;
            }
            at = (at + 1) & mask_;
        }
        slots_[at] = entry;
        ++count_;
    }

private:
    std::size_t slot_of(const IEval* entry) const noexcept
    {
        const auto address = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(entry));
        return static_cast<std::size_t>((address * 0x9e3779b97f4a7c15ull) >> 32) & mask_;
    }

    void rehash(std::size_t size)
    {
        std::vector<IEval*> old(size, nullptr);
        old.swap(slots_);
        mask_ = size - 1;
        count_ = 0;
        for (IEval* entry : old) {
            if (entry != nullptr) {
                insert(entry);
            }
        }
    }

    std::vector<IEval*> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

} // namespace

void node_base_impl_value::add_dependent(INode& dependent)
{
    if (services->defer_add_dependent(*this, dependent)) {
        return;
    }
    IEval* eval = &dependent.get_eval();
    if (eval != this) {
        dependents.push_back_unique(eval);
    }
}

void node_base_impl_value::expand_dependents()
{
    // Most nodes have no dependents whose own dependents reach further: the
    // set of listed entries is made only when the closure grows.
    std::optional<listed_entries> listed;
    for (std::uint32_t i = 0; i < dependents.size(); ++i) {
        IEval* entry = dependents[i];
        if (entry == this) {
            continue;
        }
        const std::span<IEval* const> further = entry->get_dependents();
        if (further.empty()) {
            continue;
        }
        if (!listed) {
            listed.emplace(std::span<IEval* const>(dependents.data(), dependents.size()));
        }
        dependents.reserve(dependents.size() + static_cast<std::uint32_t>(further.size()));
        for (IEval* candidate : further) {
            if (candidate == this || listed->contains(candidate)) {
                continue;
            }
            if (expansion_budget_ == 0) {
                GENICAM_LOG(1, "%s, %s (\"%s\"). Dependency graph too large, dependents left out.\n",
                            "GenICam::impl::node_base_impl_value::expand_dependents", element_name(), name_text());
                return;
            }
            if (dependents.push_back(candidate)) {
                listed->insert(candidate);
                --expansion_budget_;
            }
        }
    }
}

void node_base_impl_value::propagate_change()
{
    // Every cache first: a callback reads other dependents, and those must
    // answer the value after the change, not bytes they cached before it.
    for (IEval* dependent : dependents) {
        dependent->drop_cached_state();
    }
    for (IEval* dependent : dependents) {
        dependent->fire_own_callbacks();
    }
    fire_own_callbacks();
}

} // namespace GenICam::impl
