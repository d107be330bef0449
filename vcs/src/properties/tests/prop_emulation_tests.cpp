// Values the service keeps itself: emulated proc-amp values as a client sees
// them, their persistence in a registry key, the colour-enhance items, the
// debug properties (requests, stored flags and the debug features of the own
// document) and the frame counters.

#include "properties/prop_emulation_dbg_properties.h"
#include "properties/prop_emulation_emulated_properties.h"
#include "properties/prop_emulation_frame_count_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <memory_property_store.h>
#include <request_registry.h>

#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"
#include "properties/genicam_named_req_proxy.h"
#include "properties/property_store_registry.h"

namespace {

using cam::PROPSETID_COLOR_ENHANCE;
using cam::PROPSETID_EMULATED_REGISTER;
using cam::PROPSETID_GENERIC_DRIVER_INTERFACE;
using cam::PROPSETID_VIDCAP_VIDEOPROCAMP;
using prop_emulation::dbg_properties;

constexpr HRESULT too_small = static_cast<HRESULT>(0x8007007A);

std::int32_t i32(const std::vector<std::uint8_t>& b, std::size_t offset)
{
    std::int32_t v = 0;
    std::memcpy(&v, b.data() + offset, 4);
    return v;
}

// A throw-away key under HKCU with a property store over it.
struct registry_key {
    registry_key()
    {
        path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
        store = std::make_shared<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
        EXPECT_TRUE(store->is_open());
    }
    ~registry_key()
    {
        store.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    void set_raw(const wchar_t* name, DWORD type, const void* data, DWORD size) const
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, size), ERROR_SUCCESS);
    }
    void set_text(const wchar_t* name, const std::wstring& text) const
    {
        set_raw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    DWORD type_of(const wchar_t* name) const
    {
        DWORD type = 0;
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, path.c_str(), name, RRF_RT_ANY, &type, nullptr, nullptr),
                  ERROR_SUCCESS)
            << name;
        return type;
    }

    std::wstring path;
    std::shared_ptr<utils::property_store_registry> store;
};

// The emulated block of a camera whose registry answers nothing else, with
// the camera's own document and, optionally, the camera's description.
struct emulated_camera {
    explicit emulated_camera(std::shared_ptr<utils::property_store_itf> store = nullptr,
                             std::string_view description = {})
        : requests(std::move(store))
    {
        if (!description.empty()) {
            EXPECT_FALSE(proxy.init_and_register(description.data(), description.size(), nullptr));
        }
        gcxml::build_document(document.doc);
        values.add(requests, document, true, proxy.documents());
    }
    // A standard-set get as the active device assembles it: the 48-byte record.
    HRESULT get(std::uint32_t id, std::vector<std::uint8_t>& b)
    {
        b.assign(48, 0);
        std::uint32_t returned = 0;
        return requests.get_property(&PROPSETID_VIDCAP_VIDEOPROCAMP, id, nullptr, 0, b.data(), 48, &returned);
    }
    HRESULT set(std::uint32_t id, std::int32_t value)
    {
        std::vector<std::uint8_t> b(48, 0);
        std::memcpy(b.data() + 24, &value, 4);
        return requests.set_property(&PROPSETID_VIDCAP_VIDEOPROCAMP, id, nullptr, 0, b.data(), 48);
    }
    // The key of a register of the own document, by name.
    cam::property_req_key register_key(const char* name) const
    {
        for (pugi::xml_node node : document.register_description().children("IntReg")) {
            if (std::string_view(node.attribute("Name").value()) == name) {
                const std::uint64_t address = std::stoull(node.child_value("Address"), nullptr, 16);
                return {PROPSETID_EMULATED_REGISTER, static_cast<std::uint32_t>(address)};
            }
        }
        ADD_FAILURE() << "no register " << name;
        return {};
    }
    HRESULT set_register(const char* name, std::int32_t value)
    {
        const auto key = register_key(name);
        return requests.set_property(&key.property_set, key.property_id, nullptr, 0, &value, 4);
    }

    fake_devices::request_registry requests;
    drv_genicam::genicam_named_req_proxy proxy{requests};
    gcxml::doc_builder document{0xBCEA541200040000ull};
    prop_emulation::emulated_properties values;
};

TEST(emulated_values, clients_see_the_range_record_and_out_of_range_sets_are_refused)
{
    emulated_camera camera;
    std::vector<std::uint8_t> b;
    const struct {
        std::uint32_t id;
        std::int32_t min, max, def;
    } rows[] = {{0, -10, 30, 0}, {2, -180, 180, 0}, {3, 0, 255, 64}, {4, 0, 14, 0}, {5, 1, 500, 100}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.id);
        ASSERT_EQ(camera.get(r.id, b), S_OK);
        EXPECT_EQ(i32(b, 24), r.def);
        EXPECT_EQ(i32(b, 28), 2);
        EXPECT_EQ(i32(b, 32), 2);
        EXPECT_EQ(i32(b, 36), r.min);
        EXPECT_EQ(i32(b, 40), r.max);
        EXPECT_EQ(i32(b, 44), r.def);
        EXPECT_EQ(camera.set(r.id, r.max + 1), E_INVALIDARG);
        EXPECT_EQ(camera.set(r.id, r.min - 1), E_INVALIDARG);
        ASSERT_EQ(camera.get(r.id, b), S_OK);
        EXPECT_EQ(i32(b, 24), r.def);
    }
    EXPECT_EQ(camera.set(2, 181), E_INVALIDARG);
    EXPECT_EQ(camera.set(2, -180), S_OK);
    fake_devices::memory_property_store saved;
    camera.values.hue().save_value(saved);
    std::int64_t stored = 0;
    ASSERT_TRUE(saved.read_int(L"emul.hue.val", stored));
    EXPECT_EQ(stored, -180);

    const prop_emulation::per_frame_values frame = camera.values.per_frame();
    EXPECT_FLOAT_EQ(frame.hue, -1.0F);
    EXPECT_FLOAT_EQ(frame.saturation, 1.0F);
    EXPECT_FLOAT_EQ(frame.gamma, 1.0F);
}

TEST(emulated_values, persisted_values_survive_a_save_and_a_fresh_load_as_qwords)
{
    registry_key key;
    {
        emulated_camera camera(key.store);
        ASSERT_EQ(camera.set(2, -180), S_OK);
        ASSERT_EQ(camera.set(0, 30), S_OK);
        ASSERT_EQ(camera.set(4, 14), S_OK);
        ASSERT_EQ(camera.set(3, 100), S_OK);
        ASSERT_EQ(camera.set_register("Denoise_Item_Elem_Reg", 25), S_OK);
        EXPECT_EQ(camera.set_register("Denoise_Item_Elem_Reg", 26), E_INVALIDARG);
        camera.requests.save_values();
    }
    for (const wchar_t* name : {L"emul.hue.val", L"Brightness", L"Sharpness", L"Denoise"}) {
        EXPECT_EQ(key.type_of(name), static_cast<DWORD>(REG_QWORD)) << name;
    }
    std::int64_t unused = 0;
    EXPECT_FALSE(key.store->read_int(L"Saturation", unused)); // saturation is not persisted

    emulated_camera fresh(key.store);
    fresh.requests.load_values();
    const prop_emulation::per_frame_values frame = fresh.values.per_frame();
    EXPECT_FLOAT_EQ(frame.hue, -1.0F);
    EXPECT_EQ(frame.brightness, 30);
    EXPECT_EQ(frame.sharpness, 14);
    EXPECT_EQ(frame.denoise, 25);
    EXPECT_FLOAT_EQ(frame.saturation, 1.0F);
}

// Features of the camera named as persisted values, in any case: the node
// walk keeps their values under those names, so the emulated values move.
TEST(emulated_values, values_named_as_camera_features_persist_under_the_service_names)
{
    constexpr std::string_view description = R"(<?xml version="1.0"?>
<RegisterDescription ModelName="Cam" VendorName="Test" StandardNameSpace="U3V" MajorVersion="1" MinorVersion="0" SubMinorVersion="0">
  <Integer Name="brightness"><Value>1</Value></Integer><Float Name="Sharpness"><Value>1.5</Value></Float>
  <Integer Name="DENOISE"><Value>2</Value></Integer><Port Name="Device"/>
</RegisterDescription>)";
    registry_key key;
    {
        emulated_camera camera(key.store, description);
        ASSERT_EQ(camera.set(2, 90), S_OK);
        ASSERT_EQ(camera.set(0, 30), S_OK);
        ASSERT_EQ(camera.set(4, 14), S_OK);
        ASSERT_EQ(camera.set_register("Denoise_Item_Elem_Reg", 25), S_OK);
        camera.requests.save_values();
    }
    std::int64_t stored = 0;
    for (const wchar_t* name : {L"Brightness", L"Sharpness", L"Denoise"}) {
        EXPECT_FALSE(key.store->read_int(name, stored)) << name;
    }
    EXPECT_TRUE(key.store->read_int(L"emul.hue.val", stored));

    emulated_camera fresh(key.store, description);
    fresh.requests.load_values();
    const prop_emulation::per_frame_values frame = fresh.values.per_frame();
    EXPECT_FLOAT_EQ(frame.hue, 0.5F);
    EXPECT_EQ(frame.brightness, 30);
    EXPECT_EQ(frame.sharpness, 14);
    EXPECT_EQ(frame.denoise, 25);
}

TEST(emulated_values, stored_values_outside_the_range_or_of_another_type_are_ignored)
{
    registry_key key;
    ASSERT_TRUE(key.store->write_int(L"emul.hue.val", 1000));
    ASSERT_TRUE(key.store->write_int(L"Sharpness", 15));
    ASSERT_TRUE(key.store->write_int(L"Brightness", 12));
    emulated_camera camera(key.store);
    camera.requests.load_values();
    EXPECT_EQ(camera.values.hue().value(), 0);
    EXPECT_EQ(camera.values.sharpness().value(), 0);
    EXPECT_EQ(camera.values.brightness().value(), 12);

    key.set_text(L"emul.hue.val", L"90");
    camera.requests.load_values();
    EXPECT_EQ(camera.values.hue().value(), 0);
}

TEST(color_enhance, items_report_the_mode_and_the_pattern_of_the_variant)
{
    fake_devices::request_registry requests;
    prop_emulation::emulated_properties values;
    std::vector<std::uint8_t> b(48, 0);
    std::uint32_t returned = 0;
    auto item = [&](std::uint32_t id) {
        b.assign(48, 0);
        return requests.get_property(&PROPSETID_COLOR_ENHANCE, id, nullptr, 0, b.data(), 48, &returned);
    };

    values.register_color_enhance_first(requests);
    values.color_enhance().set_pattern(prop_emulation::color_enhance2::pattern_of_fourcc(0x42474752)); // "RGGB"
    ASSERT_EQ(item(11), S_OK);
    EXPECT_EQ(i32(b, 24), 12);
    EXPECT_EQ(i32(b, 36), 0);
    EXPECT_EQ(i32(b, 40), 0);
    ASSERT_EQ(item(12), S_OK);
    EXPECT_EQ(returned, 48u);
    EXPECT_EQ(i32(b, 24), -1);
    EXPECT_EQ(i32(b, 36), -1);
    EXPECT_EQ(i32(b, 40), 3);
    EXPECT_EQ(i32(b, 44), -1);

    values.register_color_enhance_second(requests);
    ASSERT_EQ(item(11), S_OK);
    EXPECT_EQ(i32(b, 24), 15);
    ASSERT_EQ(item(12), S_OK);
    EXPECT_EQ(i32(b, 24), 3);
    EXPECT_EQ(i32(b, 44), 3);
    EXPECT_EQ(item(13), E_NOTIMPL);

    std::vector<std::uint8_t> record(48, 0);
    EXPECT_EQ(requests.set_property(&PROPSETID_COLOR_ENHANCE, 11, nullptr, 0, record.data(), 48), E_NOTIMPL);
    EXPECT_EQ(requests.set_property(&PROPSETID_COLOR_ENHANCE, 12, nullptr, 0, record.data(), 48), E_NOTIMPL);
    EXPECT_EQ(item(11), S_OK);
    EXPECT_EQ(prop_emulation::color_enhance2::pattern_of_fourcc(0x31384142), 0); // "BA81"
    EXPECT_EQ(prop_emulation::color_enhance2::pattern_of_fourcc(0x30303859), -1); // "Y800"
}

TEST(frame_counters, a_short_buffer_reports_48_and_a_set_is_not_served)
{
    fake_devices::request_registry requests;
    prop_emulation::frame_count_info counters;
    ASSERT_FALSE(requests.register_handler(counters.key(), &counters, cam::level_override));
    cam::frame_counts counts;
    counts.frames_delivered = 7;
    counts.frames_dropped_due_to_unspecified = 0x100000000ull;
    counters.store(counts);

    std::vector<std::uint8_t> b(48, 0xEE);
    std::uint32_t returned = 0;
    EXPECT_EQ(requests.get_property(&PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, b.data(), 40, &returned),
              too_small);
    EXPECT_EQ(returned, 48u);
    ASSERT_EQ(requests.get_property(&PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, b.data(), 48, &returned),
              S_OK);
    EXPECT_EQ(returned, 48u);
    std::uint64_t words[6];
    std::memcpy(words, b.data(), 48);
    EXPECT_EQ(words[0], 7u);
    EXPECT_EQ(words[5], 0x100000000ull);
    EXPECT_EQ(requests.set_property(&PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, b.data(), 48), E_NOTIMPL);
    KsPropDataRequest no_buffer;
    no_buffer.property_set = PROPSETID_GENERIC_DRIVER_INTERFACE;
    no_buffer.property_id = 25;
    no_buffer.value_size = 48;
    EXPECT_EQ(counters.get_request(no_buffer), make_cam_error(E_POINTER));
    counters.reset();
    EXPECT_EQ(counters.snapshot().frames_delivered, 0u);
}

// Restores the process-wide log settings that a test changes.
struct log_settings_guard {
    std::uint32_t level = service_log_level.load();
    std::uint32_t mask = log_category_mask.load();
    ~log_settings_guard()
    {
        service_log_level = level;
        log_category_mask = mask;
    }
};

// The debug properties of a camera whose registry's store is a real key.
struct debug_camera {
    explicit debug_camera(std::shared_ptr<utils::property_store_itf> store) : requests(std::move(store))
    {
        gcxml::build_document(document.doc);
        debug.build(requests, document);
    }
    HRESULT set(const GUID& set, std::uint32_t id, const void* value, std::uint32_t size)
    {
        return requests.set_property(&set, id, nullptr, 0, const_cast<void*>(value), size);
    }
    HRESULT set_int(const GUID& set, std::uint32_t id, std::int32_t value) { return this->set(set, id, &value, 4); }
    std::int32_t get_int(const GUID& set, std::uint32_t id)
    {
        std::int32_t value = -99;
        std::uint32_t returned = 0;
        EXPECT_EQ(requests.get_property(&set, id, nullptr, 0, &value, 4, &returned), S_OK) << id;
        EXPECT_EQ(returned, 4u);
        return value;
    }

    fake_devices::request_registry requests;
    drv_genicam::genicam_named_req_proxy proxy{requests};
    gcxml::doc_builder document{0xBCEA541200040000ull};
    dbg_properties debug;
};

TEST(debug_properties, requests_set_the_flags_the_limits_and_the_log_settings)
{
    log_settings_guard guard;
    registry_key key;
    debug_camera camera(key.store);
    const GUID& generic = PROPSETID_GENERIC_DRIVER_INTERFACE;
    const GUID& emulated = PROPSETID_EMULATED_REGISTER;

    EXPECT_EQ(camera.get_int(generic, 22), 1); // drop incomplete frames, initially on
    ASSERT_EQ(camera.set_int(generic, 20, 5), S_OK);
    ASSERT_EQ(camera.set_int(generic, 22, 0), S_OK);
    EXPECT_TRUE(camera.debug.flags().show_overlay.load());
    EXPECT_FALSE(camera.debug.flags().drop_incomplete_frames.load());
    EXPECT_EQ(camera.get_int(generic, 20), 1);

    ASSERT_EQ(camera.set_int(emulated, 36, -5), S_OK);
    EXPECT_EQ(camera.get_int(emulated, 36), 0);
    ASSERT_EQ(camera.set_int(emulated, 36, 12), S_OK);
    EXPECT_EQ(camera.debug.max_concurrency(), 12);

    EXPECT_EQ(camera.get_int(emulated, 32), 0);
    ASSERT_TRUE(key.store->write_int(L"export_debug_properties", 1));
    EXPECT_EQ(camera.get_int(emulated, 32), 1);
    EXPECT_EQ(camera.set_int(emulated, 32, 0), E_NOTIMPL);
    EXPECT_EQ(camera.set_int(emulated, 33, 0), E_NOTIMPL);

    ASSERT_EQ(camera.set_int(emulated, 40, 0x102), S_OK);
    EXPECT_EQ(service_log_level.load(), 2u);
    EXPECT_EQ(camera.get_int(emulated, 40), 2);
    log_category_mask = 0;
    ASSERT_EQ(camera.set_int(emulated, 52, 1), S_OK);
    EXPECT_EQ(log_category_mask.load(), 0x40000u);
    ASSERT_EQ(camera.set_int(emulated, 44, 7), S_OK);
    ASSERT_EQ(camera.set_int(emulated, 48, 1), S_OK);
    EXPECT_EQ(log_category_mask.load(), 0x70000u);
    ASSERT_EQ(camera.set_int(emulated, 52, 0), S_OK);
    EXPECT_EQ(log_category_mask.load(), 0x30000u);
    EXPECT_EQ(camera.get_int(emulated, 44), 1);
    EXPECT_EQ(camera.get_int(emulated, 52), 0);

    const std::uint8_t three[3] = {1, 0, 0};
    EXPECT_EQ(camera.set(generic, 20, three, 3), too_small);
    EXPECT_EQ(camera.set(emulated, 40, three, 3), too_small);
    KsPropDataRequest null_value;
    null_value.request_type = KsPropDataRequest::set;
    null_value.property_set = generic;
    null_value.property_id = 21;
    null_value.value_size = 4;
    EXPECT_EQ(camera.requests.gen_property_reqistry::set_request(null_value, cam::level_override),
              make_cam_error(E_POINTER));
}

TEST(debug_properties, the_load_reads_the_three_flags_and_skips_other_types)
{
    registry_key key;
    ASSERT_TRUE(key.store->write_int(L"force_clear_buffers", 1));
    ASSERT_TRUE(key.store->write_int(L"drop_incomplete_frames", 0));
    key.set_text(L"show_overlay", L"1");
    debug_camera camera(key.store);
    camera.requests.load_values();
    EXPECT_FALSE(camera.debug.flags().show_overlay.load());
    EXPECT_TRUE(camera.debug.flags().force_clear_buffers.load());
    EXPECT_FALSE(camera.debug.flags().drop_incomplete_frames.load());

    // Saving writes nothing of its own.
    camera.requests.save_values();
    std::int64_t unused = 0;
    EXPECT_FALSE(key.store->read_int(L"show_overlay", unused));
}

// The own document through the named-request proxy, as the camera base
// renders and registers it.
struct debug_document : debug_camera {
    explicit debug_document(std::shared_ptr<utils::property_store_itf> store) : debug_camera(std::move(store))
    {
        text = gcxml::write_register_description(document.doc, "Vendor", "Model", "ToolTip");
        EXPECT_FALSE(proxy.init_and_register(text.data(), text.size(), &proxy));
        proxy.register_handlers();
    }
    std::error_code named_set(std::string_view name, std::int64_t value)
    {
        return proxy.exec_named_set_request(name, &value, sizeof value);
    }
    std::int64_t named_get(std::string_view name)
    {
        std::int64_t value = -1;
        std::uint32_t returned = 0;
        EXPECT_FALSE(proxy.exec_named_get_request(name, &value, sizeof value, returned)) << name;
        return value;
    }

    drv_genicam::genicam_named_req_proxy proxy{requests};
    std::string text;
};

TEST(debug_properties, exported_log_level_features_change_the_process_settings)
{
    log_settings_guard guard;
    registry_key key;
    ASSERT_TRUE(key.store->write_int(L"export_debug_properties", 1));
    debug_document camera(key.store);
    EXPECT_NE(camera.text.find("<Address>0xCEBB000100000028</Address>"), std::string::npos) << camera.text;

    ASSERT_FALSE(camera.named_set("ServiceLogLevel_Elem/Value", 1));
    EXPECT_EQ(service_log_level.load(), 1u);
    ASSERT_FALSE(camera.named_set("ServiceLogLevel_Elem/Value", 3));
    EXPECT_EQ(service_log_level.load(), 3u);
    EXPECT_EQ(camera.named_get("ServiceLogLevel_Elem/Value"), 3);

    log_category_mask = 0;
    ASSERT_FALSE(camera.named_set("ServiceLogLevel_LogGenICamRequests_Elem/Value", 1));
    EXPECT_EQ(log_category_mask.load(), 0x20000u);
    ASSERT_FALSE(camera.named_set("ServiceLogLevel_LogU3VRequests_Elem/Value", 1));
    ASSERT_FALSE(camera.named_set("ServiceLogLevel_LogUVCRequests_Elem/Value", 1));
    EXPECT_EQ(log_category_mask.load(), 0x70000u);
    ASSERT_FALSE(camera.named_set("ServiceLogLevel_LogU3VRequests_Elem/Value", 0));
    EXPECT_EQ(log_category_mask.load(), 0x60000u);

    ASSERT_FALSE(camera.named_set("Debug_MaxConcurrency/Value", 8));
    EXPECT_EQ(camera.debug.max_concurrency(), 8);
    ASSERT_FALSE(camera.named_set("Debug_ShowOverlay_Elem/Value", 1));
    EXPECT_TRUE(camera.debug.flags().show_overlay.load());
    ASSERT_FALSE(camera.named_set("Debug_DropincompleteFrames_Elem/Value", 0));
    EXPECT_FALSE(camera.debug.flags().drop_incomplete_frames.load());
}

TEST(debug_properties, without_export_the_debug_features_are_not_implemented)
{
    log_settings_guard guard;
    registry_key key;
    debug_document camera(key.store);
    const std::uint32_t level = service_log_level.load();
    EXPECT_TRUE(camera.named_set("ServiceLogLevel_Elem/Value", level == 1 ? 2 : 1));
    EXPECT_EQ(service_log_level.load(), level);
    EXPECT_EQ(camera.named_get("ServiceLogLevel_Elem/IsImplemented"), 0);
}

} // namespace
