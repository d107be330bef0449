#pragma once
// The data object behind one item of a property page. Pages and controls call
// these operations with an interface id from the item's element descriptors;
// each class turns them into property requests on the capture filter. Every
// operation answers an HRESULT (or a plain flag) and writes its out values
// only on success; no C++ exception leaves one.

#include "propertypage/cunknown.h"
#include "propertypage/interface_kind.h"
#include "propertypage/refresh_read_cache.h"

#include "atl/bstr.h"

#include <cstdint>
#include <vector>

namespace VCDAdapterHelper {

struct int_range {
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t default_value = 0;
    std::int32_t step = 0;
};

struct abs_range {
    double minimum = 0;
    double maximum = 0;
    double default_value = 0;
};

// Scale kinds of get_abs_dimension: how a slider maps positions to values.
inline constexpr std::int32_t scale_linear = 0;
inline constexpr std::int32_t scale_logarithmic = 1;

class CVCDItemDataBase : public CUnknown {
public:
    // Holds the first reference, which the create operation hands out.
    CVCDItemDataBase() noexcept { NonDelegatingAddRef(); }

    virtual bool is_interface_supported(interface_id id) = 0;
    // Drops whatever the object keeps of the camera's state. Default: S_OK.
    virtual HRESULT refresh(interface_id id);
    // True when the control may be used now. Default: true.
    virtual HRESULT is_available(interface_id id, bool& available);
    // Default: false.
    virtual HRESULT is_read_only(interface_id id, bool& read_only);
    // The defaults of the value operations below answer E_NOTIMPL.
    virtual HRESULT get_switch(interface_id id, bool& on);
    virtual HRESULT set_switch(interface_id id, bool on);
    virtual HRESULT get_switch_default(interface_id id, bool& on);
    virtual HRESULT get_range(interface_id id, int_range& range);
    virtual HRESULT get_value(interface_id id, std::int32_t& value);
    virtual HRESULT set_value(interface_id id, std::int32_t value);
    virtual HRESULT get_abs_range(interface_id id, abs_range& range);
    virtual HRESULT get_abs_value(interface_id id, double& value);
    virtual HRESULT set_abs_value(interface_id id, double value);
    // `scale_kind` stays as the caller set it unless the item names one.
    virtual HRESULT get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind);
    virtual HRESULT push(interface_id id);
    // Appends the texts of a map-strings interface to `texts`.
    virtual HRESULT get_map_strings(interface_id id, std::vector<atl::bstr>& texts);
    virtual HRESULT reserved_slot_1();
    virtual HRESULT reserved_slot_2();
    virtual HRESULT reserved_slot_3();
    // Default: false.
    virtual bool is_do_not_serialize(interface_id id);
    virtual int reserved_slot_4();
    virtual int reserved_slot_5();

    // A refresh of the page's controls runs between these two (they nest):
    // meanwhile the object answers each property it reads from what the
    // camera said the first time in that refresh.
    void begin_refresh() noexcept { reads_.begin(); }
    void end_refresh() noexcept { reads_.end(); }

protected:
    // For the access operations: what this refresh has read so far.
    refresh_read_cache* reads() noexcept { return &reads_; }

private:
    refresh_read_cache reads_; // the page's thread only
};

} // namespace VCDAdapterHelper
