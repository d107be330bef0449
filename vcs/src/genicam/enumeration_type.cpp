#include "genicam/enumeration_type.h"

#include "genicam/genicam_log.h"
#include "genicam/igenicam_doc.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"
#include "genicam/xml_value_readers.h"

#include <cmath>
#include <limits>
#include <new>

namespace GenICam::impl {

template <bool Linked>
void enumeration_type<Linked>::plan_extra(const element_children& children, alloc_itf& alloc)
{
    alloc.reserve(sizeof(enum_entry_type), children.count("EnumEntry"), 8, false);
}

template <bool Linked>
enumeration_type<Linked>::enumeration_type(const node_init& init)
    : layer(init)
{
    const std::size_t count = init.children->count("EnumEntry");
    entries_ = allocate_objects<enum_entry_type>(*init.alloc, count);
    if (entries_ == nullptr && count != 0) {
        throw std::bad_alloc();
    }
    std::int32_t ordinal = 0;
    const element_children& children = *init.children;
    constexpr child_key entry_key = "EnumEntry";
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (children.key_at(i) != entry_key.index()) {
            continue;
        }
        const element_children* entry_children = children.nested(i);
        if (entry_children == nullptr) {
            entry_children = &init.store->build(children.entry(i).node);
        }
        const node_init entry_init{entry_children, init.services, init.alloc, init.store};
        new (entries_ + entry_count_) enum_entry_type(entry_init, ordinal++);
        ++entry_count_;
    }
}

template <bool Linked>
void enumeration_type<Linked>::_resolve_references(IGenICamDoc& document, pugi::xml_node)
{
    if constexpr (Linked) {
        value_node_ = this->services->find_node(this->child("pValue"));
        if (value_node_ != nullptr) {
            value_node_->get_eval().add_dependent(*this);
        } else {
            GENICAM_LOG(1, "Enumeration (\"%s\"). Failed to parse/resolve \"pValue\" xml element.\n",
                        this->name_text());
        }
    } else {
        const parsed_integer value = parse_integer_text(this->child("Value"));
        if (value.ok()) {
            value_ = value.value;
        } else {
            GENICAM_LOG(1, "Enumeration (\"%s\"). Failed to parse \"Value\" xml element.\n", this->name_text());
        }
    }
    // Each entry has its own implemented, available and locked state.
    for (std::size_t i = 0; i < entry_count_; ++i) {
        entries_[i].resolve_references(document);
    }
}

template <bool Linked>
std::optional<std::int64_t> enumeration_type<Linked>::get_polling_time()
{
    return read_polling_time(*this->children);
}

template <bool Linked>
std::vector<IEnumEntry*> enumeration_type<Linked>::get_entries()
{
    std::vector<IEnumEntry*> entries;
    entries.reserve(entry_count_);
    for (std::size_t i = 0; i < entry_count_; ++i) {
        entries.push_back(&entries_[i]);
    }
    return entries;
}

template <bool Linked>
std::error_code enumeration_type<Linked>::set_entry(IEnumEntry* entry, std::uint32_t flags)
{
    if (const std::error_code ec = this->check_access(true, flags)) {
        return ec;
    }
    if (entry == nullptr) {
        return make_error_code(errc::index_out_of_range);
    }
    if constexpr (Linked) {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        return set_eval_val(*value_node_, entry->get_value(), flags);
    } else {
        if (entry->get_value() != value_) {
            value_ = entry->get_value();
            this->propagate_change();
        }
        return {};
    }
}

template <bool Linked>
result<IEnumEntry*> enumeration_type<Linked>::get_entry(std::uint32_t flags)
{
    if (const std::error_code ec = this->check_access(false, flags)) {
        return ec;
    }
    std::int64_t current = value_;
    if constexpr (Linked) {
        if (value_node_ == nullptr) {
            return make_error_code(errc::not_implemented);
        }
        const result<std::int64_t> read = get_eval_val<std::int64_t>(*value_node_, flags);
        if (!read) {
            return read.error();
        }
        current = read.value();
    }
    if (IEnumEntry* entry = find_entry_by_value(current)) {
        return entry;
    }
    GENICAM_LOG(1, "Enumeration (\"%s\"). Failed to find EnumEntry corresponding to current value=%lld.\n",
                this->name_text(), static_cast<long long>(current));
    return make_error_code(errc::index_out_of_range);
}

template <bool Linked>
IEnumEntry* enumeration_type<Linked>::find_entry_by_numeric_value(double value)
{
    IEnumEntry* best = nullptr;
    double best_distance = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < entry_count_; ++i) {
        const std::optional<double> numeric = entries_[i].get_numeric_value();
        const double candidate = numeric ? *numeric : static_cast<double>(entries_[i].get_value());
        const double distance = std::fabs(candidate - value);
        if (distance < best_distance) {
            best_distance = distance;
            best = &entries_[i];
        }
    }
    return best;
}

template <bool Linked>
IEnumEntry* enumeration_type<Linked>::find_entry_by_value(std::int64_t value)
{
    for (std::size_t i = 0; i < entry_count_; ++i) {
        if (entries_[i].get_value() == value) {
            return &entries_[i];
        }
    }
    return nullptr;
}

template <bool Linked>
IEnumEntry* enumeration_type<Linked>::find_entry_by_name(std::string_view name)
{
    for (std::size_t i = 0; i < entry_count_; ++i) {
        if (entries_[i].get_name() == name) {
            return &entries_[i];
        }
    }
    return nullptr;
}

template class enumeration_type<false>;
template class enumeration_type<true>;

} // namespace GenICam::impl
