#pragma once
// Camera descriptions for the GenICam-backed property tests, assembled from
// feature fragments so that each test can leave features out or change their
// kind, and a camera that loads one into the named-request proxy over an
// in-memory device and binds every handler as the camera's feature set-up
// does. All registers are uncached: a test that changes device memory sees it
// in the next read.

#include "properties/genicam_dshow_adapters.h"
#include "properties/genicam_exposure.h"
#include "properties/genicam_gain.h"
#include "properties/genicam_gpio.h"
#include "properties/genicam_strobe.h"
#include "properties/genicam_trigger.h"
#include "properties/genicam_whitebalance.h"

#include "gen_utils/cam_error.h"
#include "genicam_test/memory_device_port.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace camera_test {

// A description under construction: each feature gets the next 16 bytes of
// the device for its register.
class description {
public:
    // An empty `min` leaves the Float without Min.
    description& float_feature(const std::string& name, std::string_view min, std::string_view max,
                               std::string_view def = {})
    {
        const unsigned address = next(name);
        const std::string min_element = min.empty() ? std::string{} : fmt::format("<Min>{}</Min>", min);
        body_ += fmt::format(R"(<Float Name="{0}"><pValue>{0}Reg</pValue>{1}<Max>{2}</Max>{3}</Float>)", name,
                             min_element, max, extension(def));
        body_ += fmt::format(
            R"(<FloatReg Name="{}Reg"><Address>{:#x}</Address><Length>8</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>{}</Cachable><Endianess>LittleEndian</Endianess></FloatReg>)",
            name, address, cachable_);
        return *this;
    }
    description& int_feature(const std::string& name, std::string_view min, std::string_view max,
                             std::string_view def = {}, std::string_view inc = "1")
    {
        const unsigned address = next(name);
        body_ += fmt::format(
            R"(<Integer Name="{0}"><pValue>{0}Reg</pValue><Min>{1}</Min><Max>{2}</Max><Inc>{4}</Inc>{3}</Integer>)",
            name, min, max, extension(def), inc);
        body_ += int_reg(name + "Reg", address, 8);
        return *this;
    }
    description& bool_feature(const std::string& name)
    {
        const unsigned address = next(name);
        body_ += fmt::format(R"(<Boolean Name="{0}"><pValue>{0}Reg</pValue></Boolean>)", name);
        body_ += int_reg(name + "Reg", address, 4);
        return *this;
    }
    description& command_feature(const std::string& name)
    {
        const unsigned address = next(name);
        body_ += fmt::format(R"(<Command Name="{0}"><pValue>{0}Reg</pValue><CommandValue>1</CommandValue></Command>)",
                             name);
        body_ += int_reg(name + "Reg", address, 4);
        return *this;
    }
    // Entries take the values 0, 1, ... in the order given.
    description& enum_feature(const std::string& name, const std::vector<std::string>& entries)
    {
        const unsigned address = next(name);
        body_ += fmt::format(R"(<Enumeration Name="{}">)", name);
        for (std::size_t i = 0; i < entries.size(); ++i) {
            body_ += fmt::format(R"(<EnumEntry Name="{}"><Value>{}</Value></EnumEntry>)", entries[i], i);
        }
        body_ += fmt::format(R"(<pValue>{}Reg</pValue></Enumeration>)", name);
        body_ += int_reg(name + "Reg", address, 4);
        return *this;
    }

    // The Cachable of the registers added from now on ("NoCache" at first).
    description& cache(std::string mode)
    {
        cachable_ = std::move(mode);
        return *this;
    }

    std::string xml() const
    {
        return R"(<?xml version="1.0"?><RegisterDescription ModelName="Cam" VendorName="Test" StandardNameSpace="U3V" MajorVersion="1" MinorVersion="0" SubMinorVersion="0">)" +
               body_ + R"(<Port Name="Device"/></RegisterDescription>)";
    }
    unsigned address(const std::string& name) const { return addresses_.at(name); }

private:
    static std::string extension(std::string_view def)
    {
        return def.empty() ? std::string{} : fmt::format("<Default>{}</Default>", def);
    }
    std::string int_reg(const std::string& name, unsigned address, int length) const
    {
        return fmt::format(
            R"(<IntReg Name="{}"><Address>{:#x}</Address><Length>{}</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>{}</Cachable><Sign>Signed</Sign><Endianess>LittleEndian</Endianess></IntReg>)",
            name, address, length, cachable_);
    }
    unsigned next(const std::string& name)
    {
        const unsigned address = 0x100 + 0x10 * static_cast<unsigned>(addresses_.size());
        addresses_[name] = address;
        return address;
    }

    std::string body_;
    std::string cachable_ = "NoCache";
    std::map<std::string, unsigned> addresses_;
};

// Every feature the handlers know, with the entries a camera usually has.
inline description full_description(std::string cachable = "NoCache")
{
    description d;
    d.cache(std::move(cachable));
    d.float_feature("ExposureTime", "20", "30000000", "10000")
        .enum_feature("ExposureAuto", {"Off", "Continuous"})
        .int_feature("ExposureAutoReference", "0", "255", "128")
        .float_feature("ExposureAutoUpperLimit", "20", "30000000")
        .bool_feature("ExposureAutoUpperLimitAuto")
        .float_feature("Gain", "0", "48", "0")
        .int_feature("GainRawHidden", "0", "480", "0", "2")
        .enum_feature("GainAuto", {"Off", "Continuous"})
        .enum_feature("TriggerMode", {"Off", "On"})
        .command_feature("TriggerSoftware")
        .enum_feature("TriggerActivation", {"RisingEdge", "FallingEdge"})
        .float_feature("TriggerDelay", "0", "1000000")
        .enum_feature("BalanceWhiteAuto", {"Off", "Continuous", "Once"})
        .int_feature("VCDProperty_WhiteBalanceRed", "0", "255", "64")
        .int_feature("VCDProperty_WhiteBalanceGreen", "0", "255", "64")
        .int_feature("VCDProperty_WhiteBalanceBlue", "0", "255", "64")
        .enum_feature("StrobeEnable", {"Off", "On"})
        .enum_feature("StrobePolarity", {"ActiveLow", "ActiveHigh"})
        .enum_feature("StrobeOperation", {"FixedDuration", "Exposure"})
        .int_feature("StrobeDuration", "0", "100000", "100")
        .int_feature("StrobeDelay", "0", "10000", "0")
        .int_feature("GPIn", "0", "1")
        .int_feature("GPOut", "0", "1")
        .bool_feature("ReverseX")
        .bool_feature("ReverseY")
        .float_feature("Hue", "-180", "180", "7")
        .float_feature("Saturation", "0", "2", "1")
        .int_feature("Brightness", "-64", "64", "3");
    return d;
}

// The camera's handlers over a loaded description, registered as the
// camera's feature set-up registers them (the camera itself binds GPIO, flip
// and the adapters: Hue with scale 1 and fixed default 0, Saturation and Gamma × 100).
struct camera {
    explicit camera(const description& d) : addresses(d)
    {
        const std::string text = d.xml();
        const std::error_code loaded = proxy.init_and_register(text.data(), text.size(), &device);
        EXPECT_FALSE(loaded) << loaded.message();
        bind();
    }
    camera(const description& d, const std::string& second_document) : addresses(d)
    {
        const std::string text = d.xml();
        EXPECT_FALSE(proxy.init_and_register(second_document.data(), second_document.size(), &device));
        EXPECT_FALSE(proxy.init_and_register(text.data(), text.size(), &device));
        bind();
    }

    void bind()
    {
        const auto docs = std::span<const drv_genicam::doc_entry>(proxy.documents());
        drv_genicam::add_exposure(exposure, docs, registry);
        drv_genicam::add_gain(gain, docs, registry);
        drv_genicam::add_trigger(trigger, docs, registry);
        drv_genicam::add_whitebalance(whitebalance, docs, registry);
        drv_genicam::add_strobe(strobe, docs, registry);

        using drv_genicam::find_feature_as;
        gpio.bind(find_feature_as<GenICam::IInteger>(docs, "GPIn"), find_feature_as<GenICam::IInteger>(docs, "GPOut"));
        if (gpio.gp_in != nullptr || gpio.gp_out != nullptr) {
            registry.register_handler(vendor(drv_genicam::vendor_id::gpio), &gpio, cam::level_base);
        }
        flip.bind(find_feature_as<GenICam::IBoolean>(docs, "ReverseX"),
                  find_feature_as<GenICam::IBoolean>(docs, "ReverseY"));
        registry.register_handler(vendor(drv_genicam::vendor_id::reverse_x), &flip, cam::level_base);
        registry.register_handler(vendor(drv_genicam::vendor_id::reverse_y), &flip, cam::level_base);
        hue.bind(find_feature_as<GenICam::IFloat>(docs, "Hue"), 1.0F, 0, true);
        saturation.bind(find_feature_as<GenICam::IFloat>(docs, "Saturation"), 100.0F, 0, false);
        gamma.bind(find_feature_as<GenICam::IFloat>(docs, "Gamma"), 100.0F, 0, false);
        brightness.bind(find_feature_as<GenICam::IInteger>(docs, "Brightness"));
        registry.register_handler(amp(drv_genicam::video_proc_amp_hue), &hue, cam::level_base);
        registry.register_handler(amp(drv_genicam::video_proc_amp_saturation), &saturation, cam::level_base);
        if (gamma.node != nullptr) {
            registry.register_handler(amp(drv_genicam::video_proc_amp_gamma), &gamma, cam::level_base);
        }
        registry.register_handler(amp(drv_genicam::video_proc_amp_brightness), &brightness, cam::level_base);
    }

    static cam::property_req_key vendor(std::uint32_t id) { return {cam::PROPSETID_FWCAM1394_CUSTOM_PROP, id}; }
    static cam::property_req_key amp(std::uint32_t id) { return {cam::PROPSETID_VIDCAP_VIDEOPROCAMP, id}; }
    static cam::property_req_key control(std::uint32_t id) { return {cam::PROPSETID_VIDCAP_CAMERACONTROL, id}; }

    // A get into `size` bytes, as a client's request reaches the registry.
    std::error_code get(const cam::property_req_key& key, std::vector<unsigned char>& buffer, std::uint32_t size,
                        std::uint32_t query_flags = 0)
    {
        buffer.assign(size, 0xEE);
        KsPropDataRequest r;
        r.request_type = KsPropDataRequest::get;
        r.property_set = key.property_set;
        r.property_id = key.property_id;
        r.value = buffer.data();
        r.value_size = size;
        r.query_flags = query_flags;
        const std::error_code result = registry.get_request(r, cam::level_override);
        returned = r.bytes_returned;
        return result;
    }
    std::error_code set(const cam::property_req_key& key, std::vector<unsigned char>& buffer)
    {
        KsPropDataRequest r;
        r.request_type = KsPropDataRequest::set;
        r.property_set = key.property_set;
        r.property_id = key.property_id;
        r.value = buffer.data();
        r.value_size = static_cast<std::uint32_t>(buffer.size());
        return registry.set_request(r, cam::level_override);
    }
    // The value-and-flags record of a set: 40 bytes on the standard sets, 48
    // on the vendor set.
    std::error_code set_value(const cam::property_req_key& key, std::int32_t value, std::uint32_t flags = 0)
    {
        std::vector<unsigned char> record(cam::is_standard_video_set(key.property_set) ? 40 : 48, 0);
        std::memcpy(record.data() + 24, &value, 4);
        std::memcpy(record.data() + 28, &flags, 4);
        return set(key, record);
    }
    std::error_code set_float(const cam::property_req_key& key, float value)
    {
        std::vector<unsigned char> record(56, 0);
        std::memcpy(record.data() + 24, &value, 4);
        return set(key, record);
    }

    double f64(const std::string& feature) const { return read<double>(feature); }
    std::int64_t i64(const std::string& feature) const { return read<std::int64_t>(feature); }
    std::uint32_t u32(const std::string& feature) const { return read<std::uint32_t>(feature); }
    template <class T>
    void put(const std::string& feature, T value)
    {
        std::memcpy(device.memory.data() + addresses.address(feature), &value, sizeof(T));
    }
    template <class T>
    T read(const std::string& feature) const
    {
        T value{};
        std::memcpy(&value, device.memory.data() + addresses.address(feature), sizeof(T));
        return value;
    }

    description addresses;
    genicam_test::memory_device_port device;
    gen_property::gen_property_reqistry registry;
    drv_genicam::genicam_named_req_proxy proxy{registry};
    drv_genicam::exposure exposure;
    drv_genicam::gain gain;
    drv_genicam::trigger trigger;
    drv_genicam::whitebalance whitebalance;
    drv_genicam::strobe strobe;
    drv_genicam::gpio gpio;
    drv_genicam::sensor_flip_image flip;
    drv_genicam::dshow_to_genicam_float hue;
    drv_genicam::dshow_to_genicam_float saturation;
    drv_genicam::dshow_to_genicam_float gamma;
    drv_genicam::dshow_to_genicam_int brightness;
    std::uint32_t returned = 0;
};

template <class T>
T at(const std::vector<unsigned char>& buffer, std::size_t offset)
{
    T value{};
    std::memcpy(&value, buffer.data() + offset, sizeof(T));
    return value;
}

inline std::uint32_t hr(const std::error_code& ec)
{
    return static_cast<std::uint32_t>(cam::to_hresult(ec));
}

} // namespace camera_test
