#include "propertypage/genicam_propdata_portbased.h"

#include "propertypage/genicam_hresult.h"
#include "propertypage/hresult_guard.h"

#include "genicam/iboolean.h"
#include "genicam/icommand.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"

namespace genicam_adapter {

namespace {

// get_abs_range shows the bounds in single precision, and the slider's ends
// write what it showed: such a value stands for the exact bound, which may lie
// on either side of it (past the node's tolerance when the bound is large).
// A bound past single precision showed as its end, and a nonzero one below
// its smallest normal number as 0 or a denormal: neither is taken for it.
double exact_bound_of(GenICam::IFloat& node, double value)
{
    const auto shown_as = [value](const auto& bound) {
        return bound && VCDAdapterHelper::single_precision_stands_for(bound.value()) &&
               value == static_cast<double>(VCDAdapterHelper::single_precision(bound.value()));
    };
    if (const auto minimum = node.get_min(); shown_as(minimum)) {
        return minimum.value();
    }
    if (const auto maximum = node.get_max(); shown_as(maximum)) {
        return maximum.value();
    }
    return value;
}

} // namespace

item_data_ptr genicam_propdata_portbased::create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept
{
    if (filter == nullptr) {
        return {};
    }
    return make_item<genicam_propdata_portbased>(retain(filter), descriptor);
}

genicam_propdata_portbased::genicam_propdata_portbased(atl::com_ptr<IKsPropertySet> filter,
                                                       const item_descriptor& descriptor)
    : genicam_propdata_base(std::move(filter), descriptor)
{
}

template <class Iface, class Operation>
HRESULT genicam_propdata_portbased::with_feature(interface_id id, Operation&& operation) noexcept
{
    GenICam::INode* node = feature(id);
    if (node == nullptr) {
        return E_INVALIDARG;
    }
    auto* face = dynamic_cast<Iface*>(node);
    if (face == nullptr) {
        return E_NOTIMPL;
    }
    return hresult_guard([&] { return operation(*face); });
}

bool genicam_propdata_portbased::entry_usable(GenICam::IEnumeration&, GenICam::IEnumEntry& entry)
{
    return entry.is_implemented();
}

HRESULT genicam_propdata_portbased::is_available(interface_id id, bool& available)
{
    return with_feature<GenICam::INode>(id, [&](GenICam::INode& node) {
        const auto locked = node.is_locked(GenICam::access_flags::none);
        if (!locked) {
            return genicam_to_hresult(locked.error());
        }
        available = !locked.value();
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::get_switch(interface_id id, bool& on)
{
    return with_feature<GenICam::IBoolean>(id, [&](GenICam::IBoolean& node) {
        const auto read = node.get_val();
        if (!read) {
            return genicam_to_hresult(read.error());
        }
        on = read.value();
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::set_switch(interface_id id, bool on)
{
    return with_feature<GenICam::IBoolean>(
        id, [&](GenICam::IBoolean& node) { return genicam_to_hresult(node.set_val(on)); });
}

HRESULT genicam_propdata_portbased::get_switch_default(interface_id id, bool& on)
{
    return with_feature<GenICam::IBoolean>(id, [&](GenICam::IBoolean& node) {
        const auto read = node.get_default();
        if (!read) {
            return genicam_to_hresult(read.error());
        }
        on = read.value();
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::get_range(interface_id id, VCDAdapterHelper::int_range& range)
{
    if (GenICam::IEnumeration* list = enumeration(id)) {
        return hresult_guard([&] { return enumeration_range(*list, range); });
    }
    return with_feature<GenICam::IInteger>(id, [&](GenICam::IInteger& node) {
        const auto minimum = node.get_min();
        if (!minimum) {
            return genicam_to_hresult(minimum.error());
        }
        const auto maximum = node.get_max();
        if (!maximum) {
            return genicam_to_hresult(maximum.error());
        }
        const auto step = node.get_inc();
        const auto default_value = node.get_default();
        range = saturated_range(minimum.value(), maximum.value(),
                                default_value ? default_value.value()
                                              : VCDAdapterHelper::middle_of(minimum.value(), maximum.value()),
                                step ? step.value() : 1);
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::get_value(interface_id id, std::int32_t& value)
{
    if (GenICam::IEnumeration* list = enumeration(id)) {
        return hresult_guard([&] {
            const auto current = list->get_entry();
            if (!current) {
                return genicam_to_hresult(current.error());
            }
            if (current.value() == nullptr) {
                return E_FAIL;
            }
            return entry_position(*list, current.value()->get_name(), value);
        });
    }
    return with_feature<GenICam::IInteger>(id, [&](GenICam::IInteger& node) {
        const auto read = node.get_val();
        if (!read) {
            return genicam_to_hresult(read.error());
        }
        value = VCDAdapterHelper::saturate_32(read.value());
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::set_value(interface_id id, std::int32_t value)
{
    if (GenICam::IEnumeration* list = enumeration(id)) {
        return hresult_guard([&] {
            const std::vector<enum_entry>& usable = entries(*list);
            if (value < 0 || static_cast<std::size_t>(value) >= usable.size()) {
                return E_INVALIDARG;
            }
            GenICam::IEnumEntry* entry = list->find_entry_by_name(usable[static_cast<std::size_t>(value)].name);
            return genicam_to_hresult(list->set_entry(entry));
        });
    }
    return with_feature<GenICam::IInteger>(
        id, [&](GenICam::IInteger& node) { return genicam_to_hresult(node.set_val(value)); });
}

HRESULT genicam_propdata_portbased::get_abs_range(interface_id id, VCDAdapterHelper::abs_range& range)
{
    return with_feature<GenICam::IFloat>(id, [&](GenICam::IFloat& node) {
        const auto minimum = node.get_min();
        if (!minimum) {
            return genicam_to_hresult(minimum.error());
        }
        const auto maximum = node.get_max();
        if (!maximum) {
            return genicam_to_hresult(maximum.error());
        }
        const auto default_value = node.get_default();
        // Single precision, as the service's float records carry them; a
        // bound or default past it (a default of DBL_MAX) becomes its end.
        range = {VCDAdapterHelper::single_precision(minimum.value()),
                 VCDAdapterHelper::single_precision(maximum.value()),
                 VCDAdapterHelper::single_precision(default_value ? default_value.value() : minimum.value())};
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::get_abs_value(interface_id id, double& value)
{
    return with_feature<GenICam::IFloat>(id, [&](GenICam::IFloat& node) {
        const auto read = node.get_val();
        if (!read) {
            return genicam_to_hresult(read.error());
        }
        value = read.value();
        return S_OK;
    });
}

HRESULT genicam_propdata_portbased::set_abs_value(interface_id id, double value)
{
    return with_feature<GenICam::IFloat>(id, [&](GenICam::IFloat& node) {
        return genicam_to_hresult(node.set_val(exact_bound_of(node, value)));
    });
}

HRESULT genicam_propdata_portbased::push(interface_id id)
{
    return with_feature<GenICam::ICommand>(id, [&](GenICam::ICommand& node) { return node.execute() ? E_FAIL : S_OK; });
}

} // namespace genicam_adapter
