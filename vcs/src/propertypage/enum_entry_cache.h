#pragma once
// The usable entries of each enumeration feature an item shows: filled on
// first need, emptied and filled again on refresh. Used on the page's thread
// only.

#include "genicam/ienumeration.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace genicam_adapter {

struct enum_entry {
    std::string name;
    std::string display_name;
};

// Whether an entry of `feature` is offered.
using entry_test = std::function<bool(GenICam::IEnumeration& feature, GenICam::IEnumEntry& entry)>;

class enum_entry_cache {
public:
    // The kept entries of `feature` in its order; filled when empty.
    const std::vector<enum_entry>& entries(GenICam::IEnumeration& feature, const entry_test& usable);
    // Drops what was kept for `feature` and fills it again.
    const std::vector<enum_entry>& refill(GenICam::IEnumeration& feature, const entry_test& usable);

private:
    std::map<const GenICam::INode*, std::vector<enum_entry>> entries_;
};

} // namespace genicam_adapter
