#include "propertypage/vcd_item_tables.h"

#include "propertypage/exposure_item.h"
#include "propertypage/focus_item.h"
#include "propertypage/partial_scan_impl.h"
#include "propertypage/uvc_color_enhance.h"
#include "propertypage/uvc_gain.h"
#include "propertypage/uvc_gpio.h"
#include "propertypage/uvc_strobe.h"
#include "propertypage/uvc_trigger.h"
#include "propertypage/uvc_whitebalance.h"

namespace {

using kind = interface_kind;

// GUIDs of the table, from their registry form.
GUID g(const char* text)
{
    return to_guid(guid_or_null(text));
}

element_descriptor element(GUID guid, const wchar_t* name, std::vector<element_interface> interfaces,
                           std::int32_t hidden = 0, GUID attached_to = {})
{
    return {guid, name, std::move(interfaces), hidden, {attached_to, GUID{}}};
}

std::vector<item_descriptor> make_builtin_descriptors()
{
    const GUID value = vcd_element::value;
    const GUID automatic = vcd_element::auto_mode;
    const GUID one_push = vcd_element::one_push;
    const GUID gp_in = g("{7D006621-761D-4B88-9C5F-8B906857A500}");
    const GUID gp_out = g("{7D006621-761D-4B88-9C5F-8B906857A501}");
    constexpr std::int32_t hidden = 3;

    std::vector<item_descriptor> items;
    items.push_back({L"Exposure",
                     3,
                     g("{90D5702E-E43B-4366-AAEB-7A7A10B448B4}"),
                     L"Exposure",
                     &exposure_item::create,
                     {element(value, L"Value", {{0, kind::range}, {1, kind::absolute_value}}),
                      element(automatic, L"Auto", {{2, kind::switch_}}),
                      element(g("{6519038C-1AD8-4E91-9021-66D64090CC85}"), L"Auto Reference", {{3, kind::range}}),
                      element(g("{6519038F-1AD8-4E91-9021-66D64090CC85}"), L"Auto Max Value",
                              {{4, kind::range}, {5, kind::absolute_value}}),
                      element(g("{65190390-1AD8-4E91-9021-66D64090CC85}"), L"Auto", {{6, kind::switch_}})}});
    items.push_back({std::nullopt,
                     2,
                     g("{284C0E0F-010B-45BF-8291-09D90A459B28}"),
                     L"Gain",
                     &CUVCGain::create,
                     {element(value, L"Value", {{0, kind::range}, {1, kind::absolute_value}}),
                      element(automatic, L"Auto", {{2, kind::switch_}})}});
    items.push_back({L"Partial scan",
                     1,
                     g("{2CED6FD6-AB4D-4C74-904C-D682E53B9CC5}"),
                     L"Partial scan",
                     &partial_scan_impl::create,
                     {element(g("{36EAA683-3321-44BE-9D73-E1FD4C3FDB87}"), L"Auto-center", {{211, kind::switch_}}),
                      element(g("{5E59F654-7B47-4458-B4C6-5D4F0D175FC1}"), L"X Offset", {{118, kind::range}}),
                      element(g("{87FB6C02-98A8-46B0-B18D-6442D9775CD3}"), L"Y Offset", {{119, kind::range}})}});
    items.push_back({L"Partial scan",
                     1,
                     g("{4F95A06D-9C15-407B-96AB-CF3FED047BA4}"),
                     L"Binning factor",
                     &partial_scan_impl::create,
                     {element(value, L"Value", {{212, kind::map_strings}}, hidden)}});
    items.push_back({L"Special",
                     4,
                     g("{86D89D69-9880-4618-9BF6-DED5E8383449}"),
                     L"GPIO",
                     &CUVCGPIO::create,
                     {element(gp_in, L"GP IN", {{0, kind::range}}),
                      element(g("{7D006621-761D-4B88-9C5F-8B906857A503}"), L"Read", {{1, kind::button}}, 0, gp_in),
                      element(gp_out, L"GP Out", {{2, kind::range}}),
                      element(g("{7D006621-761D-4B88-9C5F-8B906857A502}"), L"Write", {{3, kind::button}}, 0, gp_out)}});
    items.push_back({L"Special",
                     1,
                     g("{DC320EDE-DF2E-4A90-B926-71417C71C57C}"),
                     L"Strobe",
                     &CUVCStrobe::create,
                     {element(value, L"Enable", {{0, kind::switch_}}),
                      element(g("{B41DB628-0975-43F8-A9D9-7E0380580ACD}"), L"Mode", {{1, kind::map_strings}}),
                      element(g("{B41DB628-0975-43F8-A9D9-7E0380580ACA}"), L"Polarity", {{2, kind::switch_}}),
                      element(g("{B41DB628-0975-43F8-A9D9-7E0380580ACB}"), L"Duration", {{3, kind::range}}),
                      element(g("{B41DB628-0975-43F8-A9D9-7E0380580ACC}"), L"Delay", {{4, kind::range}})}});
    items.push_back(
        {L"Special",
         2,
         g("{90D57031-E43B-4366-AAEB-7A7A10B448B4}"),
         L"Trigger",
         &CUVCTrigger::create,
         {element(value, L"Enable", {{0, kind::switch_}}),
          element(g("{FDB4003C-552C-4FAA-B87B-42E888D54147}"), L"Software Trigger", {{3, kind::button}}, 0, value),
          element(g("{6519038D-1AD8-4E91-9021-66D64090CC85}"), L"Polarity", {{1, kind::switch_}}),
          element(g("{C337CFB8-EA08-4E69-A655-586937B6AFEC}"), L"Delay", {{4, kind::absolute_value}}),
          element(g("{859A76B9-E289-472B-AB05-C9B3F26DCAA0}"), L"Operation", {{5, kind::map_strings}})}});
    items.push_back({L"Color",
                     1,
                     g("{3A3A8F77-6440-46CC-940A-8752B02E6C29}"),
                     L"Color Enhancement",
                     &CUVCColorEnhanceMtxEnable::create,
                     {element(value, L"Enable", {{0, kind::switch_}})}});
    items.push_back(
        {L"Color",
         4,
         g("{284C0E0D-010B-45BF-8291-09D90A459B28}"),
         L"WhiteBalance",
         &CUVCWhiteBalanceData::create,
         {element(automatic, L"Auto", {{2, kind::switch_}}), element(one_push, L"OnePush", {{3, kind::button}}),
          element(g("{6519038B-1AD8-4E91-9021-66D64090CC85}"), L"White Balance Red", {{0, kind::range}}),
          element(g("{8407E480-175A-498C-8171-08BD987CC1AC}"), L"White Balance Green", {{4, kind::range}}),
          element(g("{6519038A-1AD8-4E91-9021-66D64090CC85}"), L"White Balance Blue", {{1, kind::range}})}});
    items.push_back(
        {L"Lens",
         2,
         g("{90D57030-E43B-4366-AAEB-7A7A10B448B4}"),
         L"Focus",
         &CItem::create,
         {element(one_push, L"One Push", {{0, kind::button}}), element(value, L"Value", {{1, kind::range}}),
          element(g("{07D2DD39-3F10-4E0F-8EE5-3EED067A53C6}"), L"One Push Running", {{2, kind::switch_}}, hidden),
          element(g("{65190391-1AD8-4E91-9021-66D64090CC85}"), L"Auto Min Value", {{3, kind::range}}),
          element(g("{6519038F-1AD8-4E91-9021-66D64090CC85}"), L"Auto Max Value", {{4, kind::range}}),
          element(g("{8CA6642E-D3E5-4ED8-95A1-B13D7131B465}"), L"Enable Region of Interest", {{5, kind::switch_}}),
          element(g("{8CA6642F-D3E5-4ED8-95A1-B13D7131B465}"), L"Left", {{6, kind::range}}),
          element(g("{8CA66431-D3E5-4ED8-95A1-B13D7131B465}"), L"Right", {{9, kind::range}}),
          element(g("{8CA66430-D3E5-4ED8-95A1-B13D7131B465}"), L"Top", {{7, kind::range}}),
          element(g("{8CA66432-D3E5-4ED8-95A1-B13D7131B465}"), L"Bottom", {{8, kind::range}})}});
    return items;
}

} // namespace

std::span<const item_descriptor> builtin_item_descriptors()
{
    static const std::vector<item_descriptor> descriptors = make_builtin_descriptors();
    return descriptors;
}
