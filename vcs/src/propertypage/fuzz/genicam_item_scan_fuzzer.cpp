// Feeds GenApi XML documents to the engine and walks the loaded ones for the
// items and elements a property page would show.

#include "propertypage/genicam_item_scan.h"

#include "genicam/genicam_doc.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    GenICam::impl::genicam_doc document;
    if (!document.load_xml(data, size)) {
        return 0;
    }
    const auto items = genicam_adapter::scan_items(document, [](GenICam::INode& feature) {
        return feature.is_implemented();
    });
    for (const auto& item : items) {
        // Every element is a feature of the document.
        for (const auto& element : item.elements) {
            if (element.feature == nullptr || element.guid.is_null()) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
