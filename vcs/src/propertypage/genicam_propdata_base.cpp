#include "propertypage/genicam_propdata_base.h"

#include "propertypage/hresult_guard.h"
#include "propertypage/map_strings.h"
#include "propertypage/vcd_item_tables.h"

#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "gen_utils/string_conv.h"

#include <algorithm>

namespace genicam_adapter {

genicam_propdata_base::genicam_propdata_base(atl::com_ptr<IKsPropertySet> filter, const item_descriptor& descriptor)
    : filter_(std::move(filter))
{
    for (const element_descriptor& element : descriptor.elements) {
        for (const element_interface& face : element.interfaces) {
            ids_.push_back(face.id);
        }
    }
    std::sort(ids_.begin(), ids_.end());
}

GenICam::INode* genicam_propdata_base::feature(interface_id id) const noexcept
{
    if (id == 0 || !std::binary_search(ids_.begin(), ids_.end(), id)) {
        return nullptr;
    }
    return reinterpret_cast<GenICam::INode*>(id);
}

GenICam::IEnumeration* genicam_propdata_base::enumeration(interface_id id) const noexcept
{
    GenICam::INode* node = feature(id);
    if (node == nullptr || node->get_node_type() != GenICam::node_type::Enumeration) {
        return nullptr;
    }
    return dynamic_cast<GenICam::IEnumeration*>(node);
}

const std::vector<enum_entry>& genicam_propdata_base::entries(GenICam::IEnumeration& feature)
{
    return entries_.entries(feature, [this](GenICam::IEnumeration& owner, GenICam::IEnumEntry& entry) {
        return entry_usable(owner, entry);
    });
}

HRESULT genicam_propdata_base::entry_position(GenICam::IEnumeration& feature, std::string_view name,
                                              std::int32_t& position)
{
    const std::vector<enum_entry>& usable = entries(feature);
    const auto found =
        std::find_if(usable.begin(), usable.end(), [name](const enum_entry& e) { return e.name == name; });
    if (found == usable.end()) {
        return E_FAIL;
    }
    position = static_cast<std::int32_t>(found - usable.begin());
    return S_OK;
}

HRESULT genicam_propdata_base::enumeration_range(GenICam::IEnumeration& feature, VCDAdapterHelper::int_range& range)
{
    const std::vector<enum_entry>& usable = entries(feature);
    if (usable.empty()) {
        return E_NOTIMPL;
    }
    range = {0, static_cast<std::int32_t>(usable.size()) - 1, 0, 1};
    return S_OK;
}

bool genicam_propdata_base::is_interface_supported(interface_id id)
{
    return feature(id) != nullptr;
}

HRESULT genicam_propdata_base::refresh(interface_id id)
{
    return hresult_guard([&] {
        if (GenICam::IEnumeration* list = enumeration(id)) {
            entries_.refill(*list, [this](GenICam::IEnumeration& owner, GenICam::IEnumEntry& entry) {
                return entry_usable(owner, entry);
            });
        }
        return S_OK;
    });
}

HRESULT genicam_propdata_base::get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind)
{
    GenICam::INode* node = feature(id);
    if (node == nullptr) {
        return E_INVALIDARG;
    }
    return hresult_guard([&] {
        std::string_view text;
        if (auto* integer = dynamic_cast<GenICam::IInteger*>(node)) {
            text = integer->get_unit();
        } else if (auto* real = dynamic_cast<GenICam::IFloat*>(node)) {
            text = real->get_unit();
        }
        atl::bstr converted(utils::to_utf16(text));
        if (!converted) {
            return E_OUTOFMEMORY;
        }
        unit = std::move(converted);
        scale_kind = VCDAdapterHelper::scale_linear;
        return S_OK;
    });
}

HRESULT genicam_propdata_base::get_map_strings(interface_id id, std::vector<atl::bstr>& texts)
{
    GenICam::IEnumeration* list = enumeration(id);
    if (list == nullptr) {
        return E_NOTIMPL;
    }
    return hresult_guard([&] {
        std::vector<std::wstring> names;
        for (const enum_entry& entry : entries(*list)) {
            names.push_back(utils::to_utf16(entry.display_name));
        }
        return append_map_strings(texts, names);
    });
}

bool genicam_propdata_base::is_do_not_serialize(interface_id id)
{
    GenICam::INode* node = feature(id);
    return node != nullptr && !node->get_extension("DoNotSerialize").empty();
}

} // namespace genicam_adapter
