// The camera class's feature set-up: the U3V port and its GenICam
// description, the GenICam-backed properties, the chunk set-up, and the
// image-processing mode with its feature groups.

#include "device_impl/cam_tovra/cam_tovra.h"

#include "device_impl/image/image_format.h"
#include "device_impl/u3v/manifest_fetch.h"
#include "gen_utils/log.h"
#include "genicam/iboolean.h"
#include "genicam/icommand.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"
#include "genicam/iregister.h"
#include "properties/genicam_feature.h"
#include "properties/genicam_property_ids.h"

namespace cam::impl {

namespace {

using GenICam::node_type;

} // namespace

std::error_code cam_tovra::init_features()
{
    if (service_log_level.load(std::memory_order_relaxed) > 2) {
        log_line(logging::level_trace, "[CamTovra] Firmware revision={}.\n", firmware_revision());
    }

    drv_genicam::genicam_named_req_proxy& proxy = genicam_proxy();
    if (const std::error_code ec = port_.open(device())) {
        if (u3v_com::fetch_budget_spent(ec, port_.protocol_category())) {
            // A camera whose file would not arrive in time is not opened at
            // all: its next open fetches the file again.
            log_line(logging::level_error, "[CamTovra] cam_tovra::init_features, the U3V register port did not open "
                                           "in time, {}.\n",
                     ec);
            return ec;
        }
        // The camera still streams; the features of its description stay
        // unbound and their properties unregistered.
        log_line(logging::level_error, "[CamTovra] Failed to open the U3V register port, {}.\n", ec);
    } else {
        port_open_ = true;
        const std::vector<std::uint8_t>& xml = port_.genicam_file();
        if (const std::error_code ec = proxy.init_and_register(xml.data(), xml.size(), &port_)) {
            log_line(logging::level_error, "[CamTovra] The camera's GenICam description did not load, {}.\n", ec);
        }
        register_access_ = std::make_unique<u3v_com::u3v_gen_prop>(port_);
        (void)register_handler({PROPSETID_UVC_DRIVER, register_access_id}, register_access_.get(), level_base);
        if (!proxy.documents().empty()) {
            collect_chunk_adapters();
            chunk_block_id_ = drv_genicam::find_feature_as<GenICam::IRegister>(proxy.documents(), "ChunkBlockId");
            chunk_mode_active_node_ =
                drv_genicam::find_feature_as<GenICam::IBoolean>(proxy.documents(), "ChunkModeActive");
        }
    }
    bind_genicam_features();
    return {};
}

void cam_tovra::collect_chunk_adapters()
{
    chunk_adapters_.clear();
    GenICam::IGenICamDoc* document = genicam_proxy().documents().front().document.get();
    if (document == nullptr) {
        return;
    }
    // Every port of the description that answers a chunk id serves chunk data.
    document->for_each_node([this](GenICam::INode& node) {
        if (node.get_node_type() != node_type::Port) {
            return;
        }
        auto* port = dynamic_cast<GenICam::IPort*>(&node);
        if (port == nullptr) {
            return;
        }
        const auto id = port->get_chunk_id(0);
        if (id) {
            chunk_adapters_.push_back({port, id.value()});
        }
    });
}

void cam_tovra::bind_genicam_features()
{
    const auto& documents = genicam_proxy().documents();
    acquisition_start_ = drv_genicam::find_feature_as<GenICam::ICommand>(documents, "AcquisitionStart");
    acquisition_stop_ = drv_genicam::find_feature_as<GenICam::ICommand>(documents, "AcquisitionStop");

    partial_scan_.probe_and_register(*this);
    drv_genicam::add_exposure(exposure_, documents, *this);
    drv_genicam::add_gain(gain_, documents, *this);
    drv_genicam::add_strobe(strobe_, documents, *this);
    drv_genicam::add_trigger(trigger_, documents, *this);

    auto* gp_in = drv_genicam::find_feature_as<GenICam::IInteger>(documents, "GPIn");
    auto* gp_out = drv_genicam::find_feature_as<GenICam::IInteger>(documents, "GPOut");
    gpio_.bind(gp_in, gp_out);
    if (gp_in != nullptr || gp_out != nullptr) {
        (void)register_handler({PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::gpio}, &gpio_, level_base);
    }

    auto* reverse_x = drv_genicam::find_feature_as<GenICam::IBoolean>(documents, "ReverseX");
    auto* reverse_y = drv_genicam::find_feature_as<GenICam::IBoolean>(documents, "ReverseY");
    flip_.bind(reverse_x, reverse_y);
    if (reverse_x != nullptr) {
        (void)register_handler({PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::reverse_x}, &flip_,
                               level_base);
    }
    if (reverse_y != nullptr) {
        (void)register_handler({PROPSETID_FWCAM1394_CUSTOM_PROP, drv_genicam::vendor_id::reverse_y}, &flip_,
                               level_base);
    }

    drv_genicam::add_whitebalance(whitebalance_, documents, *this);
    bind_proc_amp_adapters();
}

void cam_tovra::bind_proc_amp_adapters()
{
    const auto& documents = genicam_proxy().documents();
    const auto bind_float = [&](drv_genicam::dshow_to_genicam_float& adapter, const char* name, float scale,
                                std::uint32_t id) {
        auto* node = drv_genicam::find_feature_as<GenICam::IFloat>(documents, name);
        if (node == nullptr) {
            return;
        }
        adapter.bind(node, scale, adapter.fixed_default, adapter.use_fixed_default != 0);
        (void)register_handler({PROPSETID_VIDCAP_VIDEOPROCAMP, id}, &adapter, level_base);
    };
    bind_float(hue_, "Hue", 1.0f, drv_genicam::video_proc_amp_hue);
    bind_float(saturation_, "Saturation", 0.64f, drv_genicam::video_proc_amp_saturation);
    bind_float(gamma_, "Gamma", 100.0f, drv_genicam::video_proc_amp_gamma);
    if (auto* brightness = drv_genicam::find_feature_as<GenICam::IInteger>(documents, "Brightness")) {
        brightness_.bind(brightness);
        (void)register_handler({PROPSETID_VIDCAP_VIDEOPROCAMP, drv_genicam::video_proc_amp_brightness},
                               &brightness_, level_base);
    }
}

void cam_tovra::configure_pipeline(const std::vector<uvc_cam::input_format>& formats)
{
    std::vector<std::uint32_t> fourccs;
    fourccs.reserve(formats.size());
    for (const auto& f : formats) {
        fourccs.push_back(uvc_cam::input_format_fourcc(f.guid));
    }
    const image_processing_mode mode = select_processing_mode(fourccs);
    mode_ = mode;
    bayer_pattern_ = select_bayer_pattern(fourccs);

    std::uint8_t product_key = 0;
    try {
        product_key = device().get_device_descriptor()[10];
    } catch (const std::system_error& e) {
        log_line(logging::level_error, "[CamTovra] Failed to read the device descriptor, {}.\n", e.code());
    }
    // Only the camera's own document is loaded yet; the service's document
    // has no node named as a value these groups persist.
    const std::span<const drv_genicam::doc_entry> camera_documents = genicam_proxy().documents();
    const bool native_tone_mapping =
        drv_genicam::find_feature_as<GenICam::IBoolean>(camera_documents, "ToneMappingEnable") != nullptr;
    log_line(logging::level_trace, "[CamTovra] Image processing mode={}, bayer pattern={}.\n",
             static_cast<std::uint32_t>(mode), bayer_pattern_);

    emulated_.color_enhance().set_pattern(bayer_pattern_);
    // Mono cameras emulate no colour values and hide the pattern; 8-bit Bayer
    // cameras emulate hue and saturation too and show it.
    switch (mode) {
    case image_processing_mode::mono:
        // Sensors of this product mark the pattern fix; pre_start replaces the
        // mark with the store's value before any frame is processed.
        pattern_fix_ = product_key == 8;
        emulated_.add(*this, own_document_, false, camera_documents);
        genext::add_tone_mapping(tone_mapping_, own_document_, *this, native_tone_mapping, camera_documents);
        emulated_.register_color_enhance_first(*this);
        break;
    case image_processing_mode::bayer8:
        genext::add_color_matrix(color_transformation_, genicam_proxy().documents(), own_document_, *this,
                                 product_key);
        emulated_.add(*this, own_document_, true, camera_documents);
        genext::add_tone_mapping(tone_mapping_, own_document_, *this, native_tone_mapping, camera_documents);
        emulated_.register_color_enhance_second(*this);
        break;
    case image_processing_mode::polarization_single:
        genext::add_polarization(polarization_mode_, own_document_, *this, true);
        emulated_.register_color_enhance_first(*this);
        break;
    case image_processing_mode::polarization_other:
        genext::add_polarization(polarization_mode_, own_document_, *this, false);
        emulated_.register_color_enhance_second(*this);
        break;
    }
}

} // namespace cam::impl
