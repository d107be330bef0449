// The camera class with the properties it owns, over the simulated camera:
// the vendor extension unit (format records, frame intervals and the stream
// settings it sends with the probe), the emulated values that reach every
// frame header, the colour-enhance items of each processing mode, the frame
// counters, and the settings that a close and reopen (or a replug) keeps in
// the registry.

#include "tovra_bench.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/win32_utils.h"
#include "properties/property_store_registry.h"
#include "properties/kyv_xu_framerate_list.h"
#include "properties/prop_emulation_color_enhance2.h"

namespace {

using namespace tovra_test;
using cam::PROPSETID_VIDCAP_VIDEOPROCAMP;

const std::error_code invalid_arg = make_cam_error(E_INVALIDARG);

template <typename T>
T block_value(const frame_record& f, std::size_t header_offset)
{
    T value{};
    std::memcpy(&value, f.processing_block.data() + header_offset - 80, sizeof value);
    return value;
}

// A set as a client sends it: the value at byte 24 of a `size`-byte record.
std::error_code set_value(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id, std::int32_t value,
                          std::uint32_t size)
{
    std::vector<std::uint8_t> record(size, 0);
    std::memcpy(record.data() + 24, &value, sizeof value);
    return camera.set_request(set, id, nullptr, 0, record.data(), size);
}

// The value of a 48-byte get reply (byte 24).
std::int32_t get_value(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id)
{
    std::uint8_t record[48]{};
    std::uint32_t returned = 0;
    const std::error_code ec = camera.get_request(set, id, nullptr, 0, record, sizeof record, &returned, 0);
    EXPECT_FALSE(ec) << id << ": " << ec.message();
    std::int32_t value = 0;
    std::memcpy(&value, record + 24, sizeof value);
    return value;
}

struct unit_write {
    std::uint8_t selector;
    std::int64_t value;
};

// SET_CUR requests to the extension unit from control-log entry `from` on.
std::vector<unit_write> unit_writes(tovra_bench& bench, std::size_t from = 0)
{
    std::vector<unit_write> out;
    const auto log = bench.io.camera.control_log();
    for (std::size_t i = from; i < log.size(); ++i) {
        const auto& r = log[i];
        if (r.setup.vendor || r.setup.request != 0x01 ||
            (r.setup.index >> 8) != sim_camera::sim_xu_unit::default_unit_id) {
            continue;
        }
        std::int64_t value = 0;
        for (std::size_t b = 0; b < r.out_data.size() && b < 8; ++b) {
            value |= std::int64_t{r.out_data[b]} << (8 * b);
        }
        out.push_back({static_cast<std::uint8_t>(r.setup.value >> 8), value});
    }
    return out;
}

bench_options with_unit()
{
    bench_options options;
    options.xu_unit = true;
    return options;
}

TEST(tovra_extension_unit, a_start_sends_the_unit_settings_in_order_and_the_intervals_come_from_the_unit)
{
    tovra_bench bench(with_unit());
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    ASSERT_TRUE(camera.partial_scan_unit().has_offsets());

    // The full-size format becomes the unit's size range; the VGA one stays.
    const auto formats = camera.list_formats();
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].MinDim.cx, 640);
    EXPECT_EQ(formats[0].MaxDim.cy, 480);
    EXPECT_EQ(formats[1].MinDim.cx, 16);
    EXPECT_EQ(formats[1].MinDim.cy, 8);
    EXPECT_EQ(formats[1].MaxDim.cx, 1920);
    EXPECT_EQ(formats[1].MaxDim.cy, 1080);
    EXPECT_EQ(formats[1].StepDim.cx, 16);
    EXPECT_EQ(formats[1].StepDim.cy, 8);

    // The unit's range at binning 1, not the descriptor's one interval.
    auto intervals = camera.get_frame_intervals(0);
    ASSERT_TRUE(intervals.has_value());
    EXPECT_EQ(intervals.value(), kyv_xu_props::build_framerate_list_new(333333, 3333333));

    // Binning 2 fits VGA: its shorter intervals are listed, and it goes out
    // with the start.
    ASSERT_FALSE(set_value(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, kyv_xu_props::id_binning_factor, 2, 48));
    const std::vector<std::uint64_t> binned = kyv_xu_props::build_framerate_list_new(166666, 3333333);
    EXPECT_EQ(camera.get_frame_intervals(0).value(), binned);

    const std::size_t mark = bench.io.camera.control_log().size();
    ASSERT_TRUE(bench.start_vga());
    // With the probe: mode value (bFormatIndex), binning, width, height; then
    // the region again: auto-centre (on), X and Y offset.
    const auto writes = unit_writes(bench, mark);
    std::vector<std::uint8_t> selectors;
    for (const auto& w : writes) {
        selectors.push_back(w.selector);
    }
    ASSERT_EQ(selectors, (std::vector<std::uint8_t>{16, 19, 17, 18, 23, 21, 22}));
    EXPECT_EQ(writes[0].value, 1);
    EXPECT_EQ(writes[1].value, 2);
    EXPECT_EQ(writes[2].value, 640);
    EXPECT_EQ(writes[3].value, 480);
    EXPECT_EQ(writes[4].value, 1);
    // The size is the unit's: the probe names no frame descriptor.
    const auto probe = bench.responder->last_probe_set();
    ASSERT_GE(probe.size(), 4u);
    EXPECT_EQ(probe[2], 1);
    EXPECT_EQ(probe[3], 0xFF);
    ASSERT_TRUE(bench.sink.wait_for_frames(3));

    // While the stream runs, a listing leaves the unit alone and answers the
    // list last read.
    const std::size_t streaming = unit_writes(bench).size();
    EXPECT_EQ(camera.get_frame_intervals(0).value(), binned);
    EXPECT_EQ(unit_writes(bench).size(), streaming);
    bench.release();
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good) << f.image_number;
    }
    // Released, the unit is asked again.
    EXPECT_EQ(camera.get_frame_intervals(0).value(), binned);
    EXPECT_GT(unit_writes(bench).size(), streaming);
}

TEST(tovra_extension_unit, a_size_the_unit_refuses_fails_the_start_before_the_probe)
{
    tovra_bench bench(with_unit());
    ASSERT_TRUE(bench.open_and_init());
    ASSERT_TRUE(bench.xu->edit_control(17, [](sim_camera::xu_control_state& c) { c.stalls = true; }));
    log_capture log;
    const cam::stream_format vga{img::fourcc("Y800"), 640, 480, 0};
    EXPECT_TRUE(bench.camera->try_start(vga, interval));
    EXPECT_TRUE(bench.responder->last_probe_set().empty());
    EXPECT_EQ(bench.camera->endpoint_pipe(), nullptr);
    EXPECT_EQ(log.count("[CamTovra] Failed to apply the partial-scan settings"), 1u);

    // Once the unit takes the size again the camera starts.
    ASSERT_TRUE(bench.xu->edit_control(17, [](sim_camera::xu_control_state& c) { c.stalls = false; }));
    ASSERT_TRUE(bench.start_vga());
    EXPECT_EQ(bench.xu->current_value(17), 640);
    EXPECT_TRUE(bench.sink.wait_for_frames(2));
}

TEST(tovra_emulated_values, a_mono_stream_carries_the_software_gamma_and_counts_its_frames)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    auto& emulated = camera.emulated_values();
    // The camera has UVC brightness, contrast, saturation and sharpness but
    // no gamma; a mono camera emulates no colour values.
    EXPECT_TRUE(emulated.gamma().in_use());
    EXPECT_FALSE(emulated.brightness().in_use());
    EXPECT_FALSE(emulated.sharpness().in_use());
    EXPECT_FALSE(emulated.hue().in_use());
    EXPECT_FALSE(camera.is_supported({PROPSETID_VIDCAP_VIDEOPROCAMP, 2}));
    auto& own = *camera.genicam_proxy().documents().back().document;
    EXPECT_NE(own.find_node("GammaRaw"), nullptr);
    EXPECT_NE(own.find_node("Denoise_Item_Elem"), nullptr);
    EXPECT_EQ(own.find_node("SaturationRaw"), nullptr);
    // First colour-enhance variant: mode code 12, pattern hidden.
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_mode), 12);
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_pattern), -1);

    EXPECT_EQ(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 5, 501, 40), invalid_arg);
    ASSERT_FALSE(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 5, 250, 40));
    std::int32_t concurrency = 3;
    ASSERT_FALSE(camera.set_request(cam::PROPSETID_EMULATED_REGISTER,
                                    prop_emulation::dbg_properties::id_max_concurrency, nullptr, 0, &concurrency,
                                    sizeof concurrency));

    ASSERT_TRUE(bench.start_vga());
    ASSERT_TRUE(bench.sink.wait_for_frames(3));
    for (const auto& f : bench.sink.frames()) {
        EXPECT_EQ(block_value<float>(f, 187), 2.5f);
        EXPECT_EQ(block_value<std::uint32_t>(f, 104), 3u);
        EXPECT_EQ(block_value<float>(f, 163), 1.0f); // saturation is the camera's
        EXPECT_EQ(block_value<float>(f, 167), 0.0f);
    }

    // The counters of this stream: as many delivered as the sink saw by then.
    std::uint64_t counts[6]{};
    std::uint32_t returned = 0;
    const std::size_t seen = bench.sink.frame_count();
    ASSERT_FALSE(camera.get_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, counts, sizeof counts,
                                    &returned, 0));
    EXPECT_EQ(returned, 48u);
    EXPECT_GE(counts[0], seen);
    EXPECT_EQ(counts[1] + counts[2] + counts[3] + counts[4] + counts[5], 0u);
    // A new stream counts from zero.
    bench.release();
    const cam::stream_format vga{img::fourcc("Y800"), 640, 480, 0};
    ASSERT_FALSE(camera.try_start(vga, interval));
    ASSERT_FALSE(camera.get_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, counts, sizeof counts,
                                    &returned, 0));
    EXPECT_EQ(counts[0], 0u);
}

TEST(tovra_emulated_values, a_bayer_camera_emulates_hue_and_shows_its_pattern)
{
    bench_options options;
    options.fourcc = "RGGB";
    tovra_bench bench(options);
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    EXPECT_EQ(camera.processing_mode(), cam::impl::image_processing_mode::bayer8);
    // Second colour-enhance variant: mode code 15, the sensor's pattern.
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_mode), 15);
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_pattern),
              prop_emulation::color_enhance2::rggb);
    EXPECT_TRUE(camera.emulated_values().hue().in_use());
    EXPECT_EQ(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 2, 181, 40), invalid_arg);
    ASSERT_FALSE(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 2, 90, 40));

    auto frame = cam::make_frame_buffer(vga_size);
    frame->valid_data_size_ = vga_size;
    img::image_desc image = img::image_desc_make(frame->data(), img::fourcc("RGGB"), 640, 480, 640, vga_size);
    camera.process_frame(*frame, image);
    float hue = 0;
    std::memcpy(&hue, frame->buffer + 167, sizeof hue);
    EXPECT_EQ(hue, 0.5f);
    float gamma = 0;
    std::memcpy(&gamma, frame->buffer + 187, sizeof gamma);
    EXPECT_EQ(gamma, 1.0f); // the software gamma at its default
}

// -------- settings across close, reopen and replug, in the registry

using sim_camera::uvc_unit_kind;
constexpr std::uint8_t ct_auto_exposure_mode = 0x02;
constexpr std::uint8_t pu_sharpness = 0x08;

// A throw-away HKCU key, the camera's property store as the service keeps it.
struct registry_store {
    registry_store() : path(L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7)) {}
    ~registry_store() { RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }
    std::shared_ptr<utils::property_store_itf> open() const
    {
        return std::make_shared<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
    }
    std::wstring path;
};

// The named-request instance: 8 header bytes, the request, a terminator.
std::string named_instance(std::string_view request)
{
    std::string instance(8, '\0');
    instance += request;
    instance.push_back('\0');
    return instance;
}

// A feature set or read by name, as the property pages do.
std::error_code named_set(cam::impl::cam_tovra& camera, std::string_view request, std::int64_t value)
{
    std::string instance = named_instance(request);
    return camera.set_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 4, instance.data(),
                              static_cast<std::uint32_t>(instance.size()), &value, sizeof value);
}
std::int64_t named_get(cam::impl::cam_tovra& camera, std::string_view request)
{
    std::string instance = named_instance(request);
    std::int64_t value = 0;
    std::uint32_t returned = 0;
    EXPECT_FALSE(camera.get_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 4, instance.data(),
                                    static_cast<std::uint32_t>(instance.size()), &value, sizeof value, &returned, 0))
        << request;
    return value;
}

// A set with the flags a client sends (1 auto, 2 manual).
std::error_code set_with_flags(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id, std::int32_t value,
                               std::uint32_t flags, std::uint32_t size)
{
    std::vector<std::uint8_t> record(size, 0);
    std::memcpy(record.data() + 24, &value, sizeof value);
    std::memcpy(record.data() + 28, &flags, sizeof flags);
    return camera.set_request(set, id, nullptr, 0, record.data(), size);
}
// The flags of a value reply (byte 28).
std::uint32_t get_flags(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id, std::uint32_t size)
{
    std::uint8_t record[48]{};
    std::uint32_t returned = 0;
    EXPECT_FALSE(camera.get_request(set, id, nullptr, 0, record, size, &returned, 0)) << id;
    std::uint32_t flags = 0;
    std::memcpy(&flags, record + 28, sizeof flags);
    return flags;
}

std::uint32_t register_word(const tovra_bench& bench, std::uint64_t address)
{
    std::uint32_t word = 0;
    const sim_camera::bytes bytes = bench.gencp->peek(address, 4);
    std::memcpy(&word, bytes.data(), sizeof word);
    return word;
}
void put_register_word(tovra_bench& bench, std::uint64_t address, std::uint32_t word)
{
    sim_camera::bytes bytes(4);
    std::memcpy(bytes.data(), &word, sizeof word);
    bench.gencp->poke(address, bytes);
}

std::int64_t uvc_value(const tovra_bench& bench, uvc_unit_kind kind, std::uint8_t selector)
{
    return bench.responder->current_value(kind, selector).value_or(-1);
}
void put_uvc_value(tovra_bench& bench, uvc_unit_kind kind, std::uint8_t selector, std::int64_t value)
{
    ASSERT_TRUE(bench.responder->edit_control(kind, selector, [&](sim_camera::uvc_control_state& c) {
        sim_camera::uvc_responder::put_value(c.current, value);
    }));
}

const GUID& camera_control = cam::PROPSETID_VIDCAP_CAMERACONTROL;
const GUID& custom_set = cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
constexpr std::uint32_t exposure_id = 4;
constexpr std::uint32_t uvc_exposure_id = 109;

TEST(tovra_persistence, the_uvc_auto_exposure_mode_set_through_109_comes_back_beside_the_genicam_exposure_auto)
{
    registry_store key;
    tovra_bench bench;
    bench.store = key.open();
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    ASSERT_FALSE(set_with_flags(camera, custom_set, uvc_exposure_id, 333, 2, 48));
    ASSERT_FALSE(set_with_flags(camera, custom_set, uvc_exposure_id, 333, 1, 48));
    EXPECT_EQ(uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 8);
    // A client shows camera control 4: GenICam ExposureAuto is read, Off.
    EXPECT_EQ(get_flags(camera, camera_control, exposure_id, 40) & 1, 0u);

    // The camera forgets its modes while closed.
    bench.close();
    put_uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode, 1);
    ASSERT_TRUE(bench.reopen());
    EXPECT_EQ(uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 8);
    EXPECT_EQ(get_flags(*bench.camera, custom_set, uvc_exposure_id, 48) & 1, 1u) << "109 reports auto";
    EXPECT_EQ(register_word(bench, sim_camera::reg_exposure_auto), 0u);
    EXPECT_EQ(get_flags(*bench.camera, camera_control, exposure_id, 40) & 1, 0u);
    // Each under a name of its own: the node's, and the UVC control's beside it.
    std::int64_t stored = -1;
    ASSERT_TRUE(bench.store->read_int(L"uvc.ExposureAuto", stored));
    EXPECT_EQ(stored, 8);
    ASSERT_TRUE(bench.store->read_int(L"ExposureAuto", stored));
    EXPECT_EQ(stored, 0);
}

TEST(tovra_persistence, an_open_without_the_camera_description_reads_the_uvc_mode_where_it_was_moved)
{
    registry_store key;
    {
        tovra_bench bench;
        bench.store = key.open();
        ASSERT_TRUE(bench.open_and_init());
        ASSERT_FALSE(set_with_flags(*bench.camera, custom_set, uvc_exposure_id, 333, 2, 48));
        EXPECT_EQ(get_flags(*bench.camera, camera_control, exposure_id, 40) & 1, 0u); // GenICam Off, read
        bench.close();
    }
    bench_options no_gencp;
    no_gencp.gencp = false;
    tovra_bench replugged(no_gencp);
    replugged.store = key.open();
    ASSERT_TRUE(replugged.open_and_init());
    ASSERT_FALSE(replugged.camera->u3v_port_open());
    EXPECT_EQ(uvc_value(replugged, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 1)
        << "manual, not the GenICam feature's Off (0)";
}

// A store saved before the UVC mode moved: "ExposureAuto" holds what the node
// walk saved last, GenICam ExposureAuto Continuous.
TEST(tovra_persistence, a_store_saved_before_gives_exposure_auto_to_the_genicam_feature_alone)
{
    registry_store key;
    tovra_bench bench;
    bench.store = key.open();
    ASSERT_TRUE(bench.store->write_int(L"ExposureAuto", 1));
    ASSERT_TRUE(bench.open_and_init());
    EXPECT_EQ(register_word(bench, sim_camera::reg_exposure_auto), 1u);
    EXPECT_EQ(uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 8) << "not switched to manual";
}

TEST(tovra_persistence, genicam_exposure_auto_set_through_control_4_comes_back_and_leaves_the_uvc_mode)
{
    registry_store key;
    tovra_bench bench;
    bench.store = key.open();
    ASSERT_TRUE(bench.open_and_init());
    ASSERT_FALSE(set_with_flags(*bench.camera, camera_control, exposure_id, -3, 1, 40));
    EXPECT_EQ(register_word(bench, sim_camera::reg_exposure_auto), 1u);
    EXPECT_EQ(uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 8);

    bench.close();
    put_register_word(bench, sim_camera::reg_exposure_auto, 0);
    ASSERT_TRUE(bench.reopen());
    EXPECT_EQ(register_word(bench, sim_camera::reg_exposure_auto), 1u) << "Continuous again";
    EXPECT_EQ(get_flags(*bench.camera, camera_control, exposure_id, 40) & 1, 1u);
    EXPECT_EQ(uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 8)
        << "the UVC control keeps its own mode";
}

TEST(tovra_persistence, manual_exposure_through_109_survives_a_replug_without_switching_genicam_auto_on)
{
    registry_store key;
    {
        tovra_bench bench;
        bench.store = key.open();
        ASSERT_TRUE(bench.open_and_init());
        ASSERT_FALSE(set_with_flags(*bench.camera, custom_set, uvc_exposure_id, 333, 2, 48));
        EXPECT_EQ(uvc_value(bench, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 1);
        bench.close();
    }
    // Unplugged and plugged in again: a camera as it powers up.
    tovra_bench replugged;
    replugged.store = key.open();
    ASSERT_TRUE(replugged.open_and_init());
    EXPECT_EQ(uvc_value(replugged, uvc_unit_kind::camera_terminal, ct_auto_exposure_mode), 1);
    EXPECT_EQ(register_word(replugged, sim_camera::reg_exposure_auto), 0u) << "GenICam ExposureAuto stays Off";
    EXPECT_EQ(get_flags(*replugged.camera, camera_control, exposure_id, 40) & 1, 0u);
}

// The id of a register of the service's own document: the low half of its
// address.
std::uint32_t own_register_id(cam::impl::cam_tovra& camera, const std::string& name)
{
    const auto& xml = camera.genicam_proxy().documents().back().xml_text;
    const std::string text(xml.begin(), xml.end());
    const std::size_t node = text.find("Name=\"" + name + "\"");
    const std::size_t address = text.find("<Address>", node);
    EXPECT_NE(node, std::string::npos) << name;
    EXPECT_NE(address, std::string::npos) << name;
    if (node == std::string::npos || address == std::string::npos) {
        return 0;
    }
    return static_cast<std::uint32_t>(std::stoull(text.substr(address + 9, 18), nullptr, 16) & 0xFFFFFFFF);
}

// The camera's own tone mapping beside the service's software one, and a
// camera feature named as a UVC handler's value (Sharpness) and as the
// software denoise level (Denoise).
std::string camera_feature_nodes()
{
    const auto int_reg = [](const char* name, std::uint32_t address) {
        return fmt::format(R"(<IntReg Name="{}"><Address>{:#x}</Address><Length>4</Length><AccessMode>RW</AccessMode>
            <pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>)",
                           name, address);
    };
    return int_reg("ToneMappingEnableReg", 0x7F010) +
           R"(<Boolean Name="ToneMappingEnable"><pValue>ToneMappingEnableReg</pValue></Boolean>)" +
           int_reg("ToneMappingAutoReg", 0x7F014) +
           R"(<Boolean Name="ToneMappingAuto"><pValue>ToneMappingAutoReg</pValue></Boolean>)" +
           R"(<FloatReg Name="ToneMappingIntensityReg"><Address>0x7F018</Address><Length>4</Length>
            <AccessMode>RW</AccessMode><pPort>Device</pPort><Endianess>LittleEndian</Endianess></FloatReg>)" +
           R"(<Float Name="ToneMappingIntensity"><pValue>ToneMappingIntensityReg</pValue>
            <Min>0</Min><Max>100</Max></Float>)" +
           int_reg("SharpnessReg", 0x7F01C) +
           R"(<Integer Name="Sharpness"><pValue>SharpnessReg</pValue><Min>0</Min><Max>100</Max></Integer>)" +
           int_reg("DenoiseReg", 0x7F020) +
           R"(<Integer Name="Denoise"><pValue>DenoiseReg</pValue><Min>0</Min><Max>100</Max></Integer>)";
}

// The camera's tone mapping switched by name, the software one left alone,
// and the other way round.
struct feature_case {
    bool camera_tone_mapping;
    bool software_tone_mapping;
};

TEST(tovra_persistence, camera_features_and_the_service_values_of_the_same_names_come_back_each_as_left)
{
    for (const feature_case c : {feature_case{true, false}, feature_case{false, true}}) {
        SCOPED_TRACE(c.camera_tone_mapping ? "camera's tone mapping on" : "software tone mapping on");
        registry_store key;
        bench_options options;
        options.extra_nodes = camera_feature_nodes();
        tovra_bench bench(options);
        for (std::uint64_t address = 0x7F010; address <= 0x7F020; address += 4) {
            bench.gencp->add_register(address, sim_camera::bytes(4, 0), false);
        }
        bench.store = key.open();
        ASSERT_TRUE(bench.open_and_init());
        auto& camera = *bench.camera;
        ASSERT_FALSE(named_set(camera, "ToneMappingEnable/Value", c.camera_tone_mapping ? 1 : 0));
        ASSERT_FALSE(named_set(camera, "ToneMappingAuto/Value", c.camera_tone_mapping ? 0 : 1));
        ASSERT_FALSE(named_set(camera, "ToneMappingIntensity/Value", std::bit_cast<std::int64_t>(1.1)));
        if (c.software_tone_mapping) {
            ASSERT_FALSE(named_set(camera, "ToneMapping_Enable_Elem/Value", 1));
            ASSERT_FALSE(named_set(camera, "ToneMapping_Auto_Elem/Value", 0));
            ASSERT_FALSE(named_set(camera, "ToneMapping_Intensity_Elem/Value", std::bit_cast<std::int64_t>(-2.5)));
        }
        ASSERT_FALSE(named_set(camera, "Sharpness/Value", 60));
        ASSERT_FALSE(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 4, 5, 40)); // the UVC sharpness
        ASSERT_FALSE(named_set(camera, "Denoise/Value", 20));
        std::int32_t denoise = 7;
        ASSERT_FALSE(camera.set_request(cam::PROPSETID_EMULATED_REGISTER,
                                        own_register_id(camera, "Denoise_Item_Elem_Reg"), nullptr, 0, &denoise,
                                        sizeof denoise));
        const genext::tone_mapping_settings software = camera.tone_mapping();
        EXPECT_EQ(software.enable, c.software_tone_mapping);

        // The camera forgets what it was told while it is closed.
        bench.close();
        for (std::uint64_t address = 0x7F010; address <= 0x7F020; address += 4) {
            put_register_word(bench, address, 0xFF);
        }
        put_uvc_value(bench, uvc_unit_kind::processing_unit, pu_sharpness, 3);
        ASSERT_TRUE(bench.reopen());
        auto& again = *bench.camera;
        EXPECT_EQ(register_word(bench, 0x7F010), c.camera_tone_mapping ? 1u : 0u);
        EXPECT_EQ(register_word(bench, 0x7F014), c.camera_tone_mapping ? 0u : 1u);
        EXPECT_EQ(std::bit_cast<float>(register_word(bench, 0x7F018)), 1.1F);
        EXPECT_EQ(again.tone_mapping().enable, c.software_tone_mapping) << "nobody switched it";
        EXPECT_EQ(again.tone_mapping().auto_mode, software.auto_mode);
        EXPECT_EQ(again.tone_mapping().intensity, software.intensity);
        EXPECT_EQ(register_word(bench, 0x7F01C), 60u);
        EXPECT_EQ(uvc_value(bench, uvc_unit_kind::processing_unit, pu_sharpness), 5);
        EXPECT_EQ(register_word(bench, 0x7F020), 20u);
        EXPECT_EQ(again.emulated_values().denoise(), 7);
    }
}

// The software gamma and denoise level change through their own requests,
// past the GenICam features that show them: what is saved at close is what
// the service holds then.
TEST(tovra_persistence, service_values_changed_past_their_features_are_saved_as_the_service_holds_them)
{
    registry_store key;
    {
        tovra_bench bench;
        bench.store = key.open();
        ASSERT_TRUE(bench.open_and_init());
        auto& camera = *bench.camera;
        ASSERT_FALSE(named_set(camera, "GammaRaw/Value", 200));
        ASSERT_FALSE(named_set(camera, "Denoise_Item_Elem/Value", 5));
        EXPECT_EQ(named_get(camera, "Gamma/Value"), std::bit_cast<std::int64_t>(2.0));
        ASSERT_FALSE(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 5, 250, 40));
        const std::uint32_t denoise_id = own_register_id(camera, "Denoise_Item_Elem_Reg");
        std::int32_t denoise = 9;
        ASSERT_FALSE(camera.set_request(cam::PROPSETID_EMULATED_REGISTER, denoise_id, nullptr, 0, &denoise,
                                        sizeof denoise));
        EXPECT_EQ(camera.emulated_values().denoise(), 9);
        bench.close();
    }
    tovra_bench replugged;
    replugged.store = key.open();
    ASSERT_TRUE(replugged.open_and_init());
    EXPECT_EQ(replugged.camera->emulated_values().gamma().value(), 250);
    EXPECT_EQ(replugged.camera->emulated_values().denoise(), 9);
    EXPECT_EQ(named_get(*replugged.camera, "GammaRaw/Value"), 250);
}

} // namespace
