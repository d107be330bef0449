#include "propertypage/vcd_item_data_base.h"

namespace VCDAdapterHelper {

HRESULT CVCDItemDataBase::refresh(interface_id)
{
    return S_OK;
}

HRESULT CVCDItemDataBase::is_available(interface_id, bool& available)
{
    available = true;
    return S_OK;
}

HRESULT CVCDItemDataBase::is_read_only(interface_id, bool& read_only)
{
    read_only = false;
    return S_OK;
}

HRESULT CVCDItemDataBase::get_switch(interface_id, bool&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::set_switch(interface_id, bool)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_switch_default(interface_id, bool&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_range(interface_id, int_range&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_value(interface_id, std::int32_t&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::set_value(interface_id, std::int32_t)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_abs_range(interface_id, abs_range&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_abs_value(interface_id, double&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::set_abs_value(interface_id, double)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_abs_dimension(interface_id, atl::bstr&, std::int32_t&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::push(interface_id)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::get_map_strings(interface_id, std::vector<atl::bstr>&)
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::reserved_slot_1()
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::reserved_slot_2()
{
    return E_NOTIMPL;
}

HRESULT CVCDItemDataBase::reserved_slot_3()
{
    return E_NOTIMPL;
}

bool CVCDItemDataBase::is_do_not_serialize(interface_id)
{
    return false;
}

int CVCDItemDataBase::reserved_slot_4()
{
    return 1;
}

int CVCDItemDataBase::reserved_slot_5()
{
    return 1;
}

} // namespace VCDAdapterHelper
