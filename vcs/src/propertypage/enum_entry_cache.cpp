#include "propertypage/enum_entry_cache.h"

namespace genicam_adapter {

const std::vector<enum_entry>& enum_entry_cache::entries(GenICam::IEnumeration& feature, const entry_test& usable)
{
    std::vector<enum_entry>& kept = entries_[&feature];
    if (kept.empty()) {
        return refill(feature, usable);
    }
    return kept;
}

const std::vector<enum_entry>& enum_entry_cache::refill(GenICam::IEnumeration& feature, const entry_test& usable)
{
    std::vector<enum_entry> fresh;
    for (GenICam::IEnumEntry* entry : feature.get_entries()) {
        if (entry != nullptr && usable(feature, *entry)) {
            fresh.push_back({std::string(entry->get_name()), std::string(entry->get_display_name())});
        }
    }
    std::vector<enum_entry>& kept = entries_[&feature];
    kept = std::move(fresh);
    return kept;
}

} // namespace genicam_adapter
