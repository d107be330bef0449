#include "camera_feature_fixture.h"

#include "properties/genext_feature_groups.h"
#include "properties/property_store_registry.h"

#include "gen_utils/win32_utils.h"

#include <pugixml.hpp>

#include <bit>
#include <clocale>
#include <functional>
#include <cmath>
#include <limits>

namespace {

using camera_test::camera;
using camera_test::description;
using camera_test::hr;

constexpr std::uint64_t service_start = 0xBCEA541200040000;

// A throw-away HKCU key for one test.
struct registry_key {
    registry_key() : path(L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7)) {}
    ~registry_key() { RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }
    std::shared_ptr<utils::property_store_registry> open() const
    {
        return std::make_shared<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
    }
    void set_dword(const wchar_t* name, DWORD value) const
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_DWORD, &value, sizeof(value)),
                  ERROR_SUCCESS);
    }
    void set_text(const wchar_t* name, const wchar_t* text) const
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, REG_SZ, text,
                                  static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
    std::wstring path;
};

struct group_options {
    bool native = false;
    std::uint8_t product_key = 0x87;
    bool six_modes = false;
    std::shared_ptr<utils::property_store_itf> store;
    // Runs on the loaded camera before the groups are built.
    std::function<void(camera&)> prepare;

    static group_options with_native(bool native)
    {
        group_options o;
        o.native = native;
        return o;
    }
    static group_options with_key(std::uint8_t key, std::function<void(camera&)> prepare = {})
    {
        group_options o;
        o.product_key = key;
        o.prepare = std::move(prepare);
        return o;
    }
    static group_options with_store(std::shared_ptr<utils::property_store_itf> store, bool six_modes)
    {
        group_options o;
        o.store = std::move(store);
        o.six_modes = six_modes;
        return o;
    }
};

// The camera of the property tests plus the service's document with all
// three groups, loaded as the proxy's second document.
struct service_camera {
    service_camera(const description& d, const group_options& options) : cam(d)
    {
        cam.registry.set_property_store(options.store);
        if (options.prepare) {
            options.prepare(cam);
        }
        gcxml::doc_builder writer(service_start);
        gcxml::build_document(writer.doc);
        const auto docs = std::span<const drv_genicam::doc_entry>(cam.proxy.documents());
        genext::add_color_matrix(color, docs, writer, cam.registry, options.product_key);
        genext::add_tone_mapping(tone, writer, cam.registry, options.native);
        genext::add_polarization(polarization, writer, cam.registry, options.six_modes);
        text = gcxml::write_register_description(writer.doc, "Vendor", "Model", "Tip");
        EXPECT_FALSE(cam.proxy.init_and_register(text.data(), text.size(), &cam.proxy));
        cam.proxy.register_handlers();
        EXPECT_TRUE(parsed.load_string(text.c_str()));
    }

    pugi::xml_node element(const char* name) const
    {
        return parsed.document_element().find_child_by_attribute("Name", name);
    }
    std::uint32_t register_id(const std::string& name) const
    {
        return static_cast<std::uint32_t>(
            std::stoull(element(name.c_str()).child("Address").text().get(), nullptr, 16) & 0xFFFFFFFF);
    }
    std::string extension(const char* node, const char* entry) const
    {
        return element(node).child("Extension").child(entry).text().get();
    }
    GenICam::INode* node(std::string_view name) const { return cam.proxy.documents().back().document->find_node(name); }

    std::error_code named_set(std::string_view request, const void* value, std::uint32_t size)
    {
        return cam.proxy.exec_named_set_request(request, value, size);
    }
    std::error_code named_get(std::string_view request, void* value, std::uint32_t size)
    {
        std::uint32_t returned = 0;
        return cam.proxy.exec_named_get_request(request, value, size, returned);
    }
    double get_double(std::string_view feature)
    {
        double value = std::numeric_limits<double>::quiet_NaN();
        EXPECT_FALSE(named_get(std::string(feature) + "/Value", &value, 8)) << feature;
        return value;
    }
    std::error_code set_double(std::string_view feature, double value)
    {
        return named_set(std::string(feature) + "/Value", &value, 8);
    }
    std::error_code set_int(std::string_view feature, std::int64_t value)
    {
        return named_set(std::string(feature) + "/Value", &value, 8);
    }
    // A 4-byte request on a register's handler, as the proxy sends it.
    std::error_code set_register(const std::string& reg, const void* value)
    {
        KsPropDataRequest r;
        r.request_type = KsPropDataRequest::set;
        r.property_set = cam::PROPSETID_EMULATED_REGISTER;
        r.property_id = register_id(reg);
        r.value = const_cast<void*>(value);
        r.value_size = 4;
        return cam.registry.set_request(r, cam::level_override);
    }

    camera cam;
    genext::tone_mapping_settings tone;
    genext::color_transformation_settings color;
    std::uint32_t polarization = 0;
    std::string text;
    pugi::xml_document parsed;
};

const char* const tone_registers[] = {
    "ToneMapping_Enable_Elem_Reg",    "ToneMapping_Intensity_Elem_Reg", "ToneMapping_GlobalBrightness_Elem_Reg",
    "ToneMapping_Auto_Elem_Reg",      "ToneMapping_MulFactor_Elem_Reg", "ToneMapping_AddFactor_Elem_Reg",
    "ToneMapping_PowFactor_Elem_Reg", "ToneMapping_LumAvg_Elem_Reg",
};

TEST(genext_feature_groups, document_holds_registers_lock_formulas_and_metadata)
{
    service_camera s(camera_test::full_description(), {});

    std::vector<std::string> registers;
    std::uint64_t last = service_start;
    for (pugi::xml_node child : s.parsed.document_element().children()) {
        const std::string kind = child.name();
        if (kind == "IntReg" || kind == "FloatReg") {
            registers.push_back(child.attribute("Name").value());
            const std::uint64_t address = std::stoull(child.child("Address").text().get(), nullptr, 16);
            EXPECT_GT(address, last) << registers.back();
            last = address;
        }
    }
    // Colour matrix first (enable and nine values), then tone mapping, then
    // polarization.
    ASSERT_EQ(registers.size(), 10u + 8u + 1u);
    EXPECT_EQ(registers[0], "ColorTransformationEnable_Reg");
    EXPECT_EQ(registers[9], "ColorTransformationValue22_Reg");
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(registers[10 + i], tone_registers[i]);
    }
    EXPECT_EQ(registers[18], "PolarizationVisulizationMode_Reg");

    for (const char* lock : {"ToneMapping_Params_Locked", "ColorTransformation_Params_Locked"}) {
        pugi::xml_node node = s.element(lock);
        EXPECT_STREQ(node.name(), "IntSwissKnife");
        EXPECT_STREQ(node.child("Formula").text().get(), "enabled = 0 ? 1 : 0");
        EXPECT_STREQ(node.child("pVariable").attribute("Name").value(), "enabled");
    }
    EXPECT_STREQ(s.element("ToneMapping_Params_Locked").child("pVariable").text().get(),
                 "ToneMapping_Enable_Elem_Reg");
    EXPECT_STREQ(s.element("ToneMapping_Intensity_Elem").child("pIsLocked").text().get(),
                 "ToneMapping_Params_Locked");
    EXPECT_STREQ(s.element("ToneMapping_MulFactor_Elem").child("pIsLocked").text().get(),
                 "ToneMapping_Auto_Elem_Reg");

    struct row {
        const char* node;
        const char* entry;
        const char* text;
    };
    const row rows[] = {
        {"ToneMapping_Intensity_Elem", "VCDCategoryName", "WDR"},
        {"ToneMapping_Intensity_Elem", "VCDItemName", "Tone Mapping"},
        {"ToneMapping_Intensity_Elem", "VCDItemGUID", "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}"},
        {"ToneMapping_Intensity_Elem", "VCDElementGUID", "{BD2F432A-02C1-4F32-9AEB-687CA117D2E7}"},
        {"ToneMapping_Intensity_Elem", "VCDElementOrder", "1"},
        {"ToneMapping_Intensity_Elem", "PropertyImplementer", "Driver"},
        {"ToneMapping_Intensity_Elem", "Default", "0.500000"},
        {"ToneMapping_Auto_Elem", "Default", "1"},
        {"ToneMapping_LumAvg_Elem", "VCDElementName", "lum_avg"},
        {"ColorTransformationValue12", "VCDElementName", "GB"},
        {"ColorTransformationValue12", "VCDElementGUID", "{57480AA5-2883-4C7D-A066-357D07C4527D}"},
        {"ColorTransformationValue12", "VCDElementOrder", "50"},
        {"ColorTransformationValue00", "Default", "1.340000"},
        {"PolarizationVisulizationMode", "VCDItemName", "Polarization Visualization Mode"},
        {"PolarizationVisulizationMode", "PropertyImplementer", ""},
    };
    for (const row& r : rows) {
        EXPECT_EQ(s.extension(r.node, r.entry), r.text) << r.node << " " << r.entry;
    }
    EXPECT_STREQ(s.element("ToneMapping_Intensity_Elem").child("Min").text().get(), "-8.000000");
    EXPECT_STREQ(s.element("ColorTransformationValue00").child("Inc").text().get(), "0.040000");
    EXPECT_STREQ(s.element("ToneMapping_MulFactor_Elem").child("Visibility").text().get(), "Guru");
    EXPECT_STREQ(s.element("ToneMapping_Supports_8Bit").child("ImposedAccessMode").text().get(), "RO");
    EXPECT_FALSE(s.element("ToneMapping_Supports_8Bit").child("Extension"));
    EXPECT_EQ(s.element("PolarizationVisulizationMode").select_nodes("EnumEntry").size(), 5u);
    EXPECT_STREQ(s.element("PolarizationVisulizationMode").last_child().previous_sibling().attribute("Name").value(),
                 "Reduced Reflection_4");
    ASSERT_TRUE(s.tone.state);
    EXPECT_EQ(s.tone.state->blocks.generation, 0u);
    EXPECT_EQ(s.tone.state->key_filter.count, 0);
}

TEST(genext_feature_groups, float_texts_keep_a_decimal_point_under_a_comma_locale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    bool comma = false;
    for (const char* name : {"German_Germany.1252", "de-DE", "German", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, name)) {
            char probe[16];
            std::snprintf(probe, sizeof probe, "%.1f", 0.5);
            if (std::string(probe) == "0,5") {
                comma = true;
                break;
            }
        }
    }
    if (!comma) {
        std::setlocale(LC_ALL, previous.c_str());
        GTEST_SKIP() << "no locale with a decimal comma";
    }
    gcxml::doc_builder writer(service_start);
    gcxml::build_document(writer.doc);
    gen_property::gen_property_reqistry handlers;
    genext::tone_mapping_settings tone;
    genext::color_transformation_settings color;
    genext::add_tone_mapping(tone, writer, handlers, false);
    genext::add_color_matrix(color, {}, writer, handlers, 0x87);
    const std::string text = gcxml::write_register_description(writer.doc, "Vendor", "Model", "Tip");
    std::setlocale(LC_ALL, previous.c_str());
    for (const char* number : {"<Min>-8.000000</Min>", "<Inc>0.010000</Inc>", "<Default>0.500000</Default>",
                               "<Default>-0.080000</Default>", "<Inc>0.040000</Inc>"}) {
        EXPECT_NE(text.find(number), std::string::npos) << number;
    }
    EXPECT_EQ(text.find(",000000"), std::string::npos);
}

TEST(genext_feature_groups, every_value_feature_reads_and_writes_its_variable)
{
    service_camera s(camera_test::full_description(), {});
    // Unlock the group parameters and the results first.
    ASSERT_FALSE(s.set_int("ToneMapping_Enable_Elem", 1));
    EXPECT_TRUE(s.tone.enable);
    ASSERT_FALSE(s.set_int("ToneMapping_Auto_Elem", 0));
    EXPECT_FALSE(s.tone.auto_mode);
    ASSERT_FALSE(s.set_int("ColorTransformationEnable", 1));
    EXPECT_TRUE(s.color.enable);

    struct row {
        const char* feature;
        float* variable;
        double value;
    };
    const row rows[] = {
        {"ToneMapping_Intensity_Elem", &s.tone.intensity, -2.5},
        {"ToneMapping_GlobalBrightness_Elem", &s.tone.global_brightness, 0.25},
        {"ToneMapping_MulFactor_Elem", &s.tone.mul_factor, 12.0},
        {"ToneMapping_AddFactor_Elem", &s.tone.add_factor, -3.5},
        {"ToneMapping_PowFactor_Elem", &s.tone.pow_factor, 2.0},
        {"ToneMapping_LumAvg_Elem", &s.tone.lum_avg, 0.75},
        {"ColorTransformationValue00", &s.color.coefficients[0], 2.5},
        {"ColorTransformationValue21", &s.color.coefficients[7], -0.5},
    };
    for (const row& r : rows) {
        ASSERT_FALSE(s.set_double(r.feature, r.value)) << r.feature;
        EXPECT_EQ(*r.variable, static_cast<float>(r.value)) << r.feature;
        *r.variable = 0.125F;
        EXPECT_EQ(s.get_double(r.feature), 0.125) << r.feature;
    }

    char name[32] = {};
    ASSERT_FALSE(s.named_get("PolarizationVisulizationMode/SelectedEntry", name, sizeof(name)));
    EXPECT_STREQ(name, "Intensity_0");
    ASSERT_FALSE(s.named_set("PolarizationVisulizationMode/SelectedEntry", "Minimum_3", 10));
    EXPECT_EQ(s.polarization, 3u);

    // Locks: disabling the group locks its parameters; auto on locks results.
    EXPECT_FALSE(s.node("ToneMapping_MulFactor_Elem")->is_locked());
    EXPECT_FALSE(s.node("ToneMapping_Intensity_Elem")->is_locked());
    ASSERT_FALSE(s.set_int("ToneMapping_Auto_Elem", 1));
    EXPECT_TRUE(s.node("ToneMapping_MulFactor_Elem")->is_locked());
    ASSERT_FALSE(s.set_int("ToneMapping_Enable_Elem", 0));
    EXPECT_TRUE(s.node("ToneMapping_Intensity_Elem")->is_locked());
    EXPECT_FALSE(s.node("ColorTransformationValue11")->is_locked());
    ASSERT_FALSE(s.set_int("ColorTransformationEnable", 0));
    EXPECT_TRUE(s.node("ColorTransformationValue11")->is_locked());

    // Range of the handler: intensity 9 is refused and nothing changes.
    const float nine = 9.0F;
    s.tone.intensity = 1.0F;
    EXPECT_EQ(hr(s.set_register("ToneMapping_Intensity_Elem_Reg", &nine)), 0x80070057u);
    EXPECT_EQ(s.tone.intensity, 1.0F);
}

TEST(genext_feature_groups, native_tone_mapping_hides_the_value_nodes)
{
    for (const bool native : {false, true}) {
        service_camera s(camera_test::full_description(), group_options::with_native(native));
        for (const char* reg : tone_registers) {
            std::string feature(reg);
            feature.resize(feature.size() - 4);
            const GenICam::visibility v = s.node(feature)->get_visibility();
            EXPECT_EQ(v == GenICam::visibility::Invisible, native) << feature;
        }
    }
}

TEST(genext_feature_groups, forced_values_from_the_store)
{
    struct row {
        bool as_text;
        DWORD enable, automatic, polarization;
        bool six_modes;
        bool forced;
        std::uint32_t mode;
        GenICam::access_mode mode_access;
    };
    const row rows[] = {
        {false, 0, 0, 5, false, true, 0, GenICam::access_mode::RW},
        {false, 1, 1, 5, true, true, 5, GenICam::access_mode::RO},
        {false, 0, 0, 3, false, true, 3, GenICam::access_mode::RO},
        {true, 1, 0, 3, false, false, 0, GenICam::access_mode::RW},
    };
    for (const row& r : rows) {
        registry_key key;
        if (r.as_text) {
            key.set_text(L"force_TonemappingEnable", L"1");
            key.set_text(L"force_TonemappingAuto", L"0");
            key.set_text(L"force_polarization_visualization_mode", L"3");
        } else {
            key.set_dword(L"force_TonemappingEnable", r.enable);
            key.set_dword(L"force_TonemappingAuto", r.automatic);
            key.set_dword(L"force_polarization_visualization_mode", r.polarization);
        }
        auto store = key.open();
        service_camera s(camera_test::full_description(), group_options::with_store(store, r.six_modes));
        const auto want = r.forced ? GenICam::access_mode::RO : GenICam::access_mode::RW;
        EXPECT_EQ(s.node("ToneMapping_Enable_Elem")->get_access_mode(), want);
        EXPECT_EQ(s.node("ToneMapping_Auto_Elem")->get_access_mode() == GenICam::access_mode::RO, r.forced);
        EXPECT_EQ(s.polarization, r.mode);
        EXPECT_EQ(s.node("PolarizationVisulizationMode")->get_access_mode(), r.mode_access);
        if (r.forced) {
            EXPECT_EQ(s.tone.enable, r.enable != 0);
            EXPECT_EQ(s.tone.auto_mode, r.automatic != 0);
        } else {
            EXPECT_FALSE(s.tone.enable);
            EXPECT_TRUE(s.tone.auto_mode);
        }
        // A set through the handler works but a forced value is not persisted.
        const std::int32_t on = 1;
        ASSERT_FALSE(s.set_register("ToneMapping_Enable_Elem_Reg", &on));
        EXPECT_TRUE(s.tone.enable);
        s.cam.registry.save_values();
        std::int64_t saved = 0;
        EXPECT_EQ(store->read_int(L"TonemappingEnable", saved), !r.forced);
        EXPECT_EQ(store->read_int(L"TonemappingAuto", saved), !r.forced);
    }
}

TEST(genext_feature_groups, default_colour_matrices)
{
    const std::array<float, 9> row7{1.34F, -0.08F, -0.26F, -0.27F, 1.4F, -0.13F, 0.19F, -0.74F, 1.55F};
    struct key_row {
        std::uint8_t key;
        float first;
    };
    for (const key_row r : {key_row{0x87, 1.34F}, key_row{23, 1.15F}, key_row{0x95, 0.99F}, key_row{2, 1.38F},
                            key_row{22, 1.06F}, key_row{14, 1.0F}}) {
        const auto* matrix = genext::default_color_matrix(r.key);
        ASSERT_NE(matrix, nullptr) << int(r.key);
        EXPECT_EQ((*matrix)[0], r.first) << int(r.key);
    }
    for (const std::uint8_t none : {0, 19, 24, 0x80 | 19, 0xFF}) {
        EXPECT_EQ(genext::default_color_matrix(none), nullptr) << int(none);
    }

    service_camera bayer(camera_test::full_description(), group_options::with_key(0x87));
    EXPECT_TRUE(bayer.color.in_use);
    EXPECT_EQ(bayer.color.coefficients, row7);
    EXPECT_EQ(bayer.color.default_coefficients, row7);
    service_camera no_row(camera_test::full_description(), group_options::with_key(19));
    EXPECT_EQ(no_row.color.coefficients, genext::identity_matrix);

    // The camera's own defaults win over the table.
    description own = camera_test::full_description();
    own.float_feature("ColorTransformationValue00_Default", "-1", "3", "0").float_feature(
        "ColorTransformationValue11_Default", "-1", "3", "0");
    service_camera from_camera(own, group_options::with_key(0x87, [](camera& c) {
                                   c.put("ColorTransformationValue00_Default", 1.5);
                                   c.put("ColorTransformationValue11_Default", 0.5);
                               }));
    EXPECT_EQ(from_camera.color.coefficients[0], 1.5F);
    EXPECT_EQ(from_camera.color.default_coefficients[0], 1.5F);
    EXPECT_EQ(from_camera.color.coefficients[4], 0.5F);
    EXPECT_EQ(from_camera.color.coefficients[2], 0.0F) << "a missing element stays as it was";
    EXPECT_EQ(from_camera.extension("ColorTransformationValue00", "Default"), "1.500000");

    // A camera that transforms colours itself: no group.
    description transforms = camera_test::full_description();
    transforms.bool_feature("ColorTransformationEnable");
    camera cam(transforms);
    genext::color_transformation_settings settings;
    gcxml::doc_builder writer(service_start);
    gcxml::build_document(writer.doc);
    genext::add_color_matrix(settings, cam.proxy.documents(), writer, cam.registry, 0x87);
    EXPECT_FALSE(settings.in_use);
    EXPECT_EQ(settings.coefficients, genext::identity_matrix);
    EXPECT_FALSE(writer.register_description().first_child());
}

TEST(genext_feature_groups, settings_and_camera_features_persist_on_the_same_key)
{
    registry_key key;
    auto store = key.open();
    {
        service_camera s(camera_test::full_description("WriteThrough"), group_options::with_store(store, false));
        ASSERT_FALSE(s.set_int("ToneMapping_Enable_Elem", 1));
        ASSERT_FALSE(s.set_double("ToneMapping_Intensity_Elem", -2.5));
        ASSERT_FALSE(s.set_int("ToneMapping_Auto_Elem", 0));
        ASSERT_FALSE(s.set_int("ColorTransformationEnable", 1));
        ASSERT_FALSE(s.set_double("ColorTransformationValue12", 0.75));
        ASSERT_FALSE(s.cam.set_value(camera::vendor(drv_genicam::vendor_id::gain_hundredths), 1250));
        s.cam.registry.save_values();
    }
    std::int64_t bits = 0;
    ASSERT_TRUE(store->read_int(L"ColorTransformationValue12", bits));
    EXPECT_EQ(bits, std::bit_cast<std::uint32_t>(0.75F));
    ASSERT_TRUE(store->read_int(L"TonemappingIntensity", bits));
    EXPECT_EQ(bits, std::bit_cast<std::uint32_t>(-2.5F));

    service_camera again(camera_test::full_description("WriteThrough"), group_options::with_store(store, false));
    again.cam.registry.load_values();
    EXPECT_TRUE(again.tone.enable);
    EXPECT_EQ(again.tone.intensity, -2.5F);
    EXPECT_FALSE(again.tone.auto_mode);
    EXPECT_EQ(again.color.coefficients[5], 0.75F);
    EXPECT_EQ(again.get_double("Gain"), 12.5);
    EXPECT_EQ(again.cam.f64("Gain"), 12.5);
}

TEST(genext_feature_groups, stored_values_a_set_would_refuse_are_ignored)
{
    for (const std::uint32_t bits : {std::bit_cast<std::uint32_t>(std::numeric_limits<float>::quiet_NaN()),
                                     std::bit_cast<std::uint32_t>(100.0F)}) {
        registry_key key;
        auto store = key.open();
        ASSERT_TRUE(store->write_int(L"TonemappingIntensity", bits));
        service_camera s(camera_test::full_description(), group_options::with_store(store, false));
        s.tone.intensity = 0.5F;
        s.cam.registry.load_values();
        EXPECT_EQ(s.tone.intensity, 0.5F) << bits;
    }
}

TEST(genext_feature_groups, a_camera_feature_of_the_same_name_wins)
{
    description d = camera_test::full_description();
    d.bool_feature("ToneMapping_Enable_Elem");
    service_camera s(d, {});
    ASSERT_FALSE(s.set_int("ToneMapping_Enable_Elem", 1));
    EXPECT_EQ(s.cam.u32("ToneMapping_Enable_Elem"), 1u);
    EXPECT_FALSE(s.tone.enable);
}

} // namespace
