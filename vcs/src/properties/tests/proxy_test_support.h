#pragma once
// Fixtures of the named-request proxy tests: a camera-like description bound
// to an in-memory device, the service's own description with a Boolean whose
// register a test handler backs, and requests as a client sends them.

#include "properties/genicam_named_req_proxy.h"
#include "properties/node_descriptions.h"

#include "device_impl/device_impl_tools/propset.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "genicam_test/memory_device_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace proxy_test {

// Every node kind, a locked node (Gain), a node whose lock lives in a
// register (Offset), an unimplemented node (Hidden) and the compatibility
// switch the proxy turns on. The features' registers keep what was written
// (WriteThrough); the others keep only what was read (NoCache).
inline constexpr std::string_view camera_xml = R"(<?xml version="1.0"?>
<RegisterDescription ModelName="Cam" VendorName="Test" StandardNameSpace="U3V" MajorVersion="1" MinorVersion="0" SubMinorVersion="0">
  <Category Name="Root"><pFeature>Width</pFeature><pFeature>TriggerMode</pFeature></Category>
  <Integer Name="Width"><pValue>WidthReg</pValue><Min>16</Min><Max>4096</Max><Inc>16</Inc></Integer>
  <IntReg Name="WidthReg"><Address>0x100</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Float Name="Gamma"><pValue>GammaReg</pValue><Min>0.1</Min><Max>4.0</Max></Float>
  <FloatReg Name="GammaReg"><Address>0x108</Address><Length>8</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess></FloatReg>
  <Enumeration Name="TriggerMode"><EnumEntry Name="Off"><Value>0</Value></EnumEntry><EnumEntry Name="On"><Value>1</Value></EnumEntry><pValue>TriggerModeReg</pValue></Enumeration>
  <IntReg Name="TriggerModeReg"><Address>0x110</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Boolean Name="ReverseX"><pValue>ReverseXReg</pValue></Boolean>
  <IntReg Name="ReverseXReg"><Address>0x118</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Command Name="TriggerSoftware"><pValue>TriggerSoftwareReg</pValue><CommandValue>1</CommandValue></Command>
  <IntReg Name="TriggerSoftwareReg"><Address>0x120</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>NoCache</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <StringReg Name="DeviceModelName"><Address>0x200</Address><Length>16</Length><AccessMode>RO</AccessMode><pPort>Device</pPort></StringReg>
  <Register Name="LUTValueAll"><Address>0x300</Address><Length>16</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></Register>
  <Integer Name="Gain"><pValue>GainReg</pValue><pIsLocked>GainLock</pIsLocked><Min>0</Min><Max>100</Max></Integer>
  <IntReg Name="GainReg"><Address>0x128</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Integer Name="GainLock"><Value>1</Value></Integer>
  <Integer Name="Offset"><pValue>OffsetReg</pValue><pIsLocked>OffsetLockReg</pIsLocked><Min>0</Min><Max>100</Max></Integer>
  <IntReg Name="OffsetReg"><Address>0x140</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <IntReg Name="OffsetLockReg"><Address>0x148</Address><Length>4</Length><AccessMode>RO</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Integer Name="Hidden"><pIsImplemented>HiddenImpl</pIsImplemented><Value>5</Value></Integer>
  <Integer Name="HiddenImpl"><Value>0</Value></Integer>
  <IntReg Name="KyvDriverCompatibilityMode"><Address>0x130</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Port Name="Device"/>
</RegisterDescription>
)";

inline constexpr std::uint64_t service_start = 0xBCEA541200040000;

// The service's own description: one Boolean backed by a register at the
// first service address, as the camera base writes it.
inline std::string service_xml()
{
    gcxml::doc_builder builder(service_start);
    gcxml::build_document(builder.doc);
    gcxml::boolean_desc feature;
    gcxml::make_boolean_desc(feature, "ToneMappingEnable", 0, 0);
    const gcxml::reg_ref reg = gcxml::add_boolean_register_feature(
        builder, feature, {"Tone", "Tone Mapping", "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}", "", "", 0}, "");
    EXPECT_EQ(reg.address, 0xBCEA541200040008u);
    return gcxml::write_register_description(builder.doc, "Vendor", "Model", "ToolTip");
}

// A 4-byte driver variable behind a register of the service's document.
class register_handler final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override
    {
        ++gets;
        last_set = request.property_set;
        last_id = request.property_id;
        if (request.value_size > sizeof(value)) {
            return make_cam_error(E_INVALIDARG);
        }
        std::memcpy(request.value, &value, request.value_size);
        request.bytes_returned = request.value_size;
        return {};
    }
    std::error_code set_request(KsPropDataRequest& request) override
    {
        ++sets;
        last_set = request.property_set;
        last_id = request.property_id;
        if (request.value_size > sizeof(value)) {
            return make_cam_error(E_INVALIDARG);
        }
        std::memcpy(&value, request.value, request.value_size);
        return {};
    }

    std::uint32_t value = 0;
    int gets = 0;
    int sets = 0;
    GUID last_set{};
    std::uint32_t last_id = 0;
};

// Log lines of one test, at every level and category.
class log_lines {
public:
    log_lines()
    {
        level_ = service_log_level.exchange(4);
        mask_ = log_category_mask.exchange(logging::category_bits);
        set_log_sink(1, [this](std::uint32_t, const char* text) {
            std::lock_guard lock(mutex_);
            text_ += text;
            text_ += '\n';
        });
    }
    ~log_lines()
    {
        set_log_sink(1, nullptr);
        service_log_level = level_;
        log_category_mask = mask_;
    }
    bool has(std::string_view line)
    {
        std::lock_guard lock(mutex_);
        return text_.find(line) != std::string::npos;
    }
    std::string text()
    {
        std::lock_guard lock(mutex_);
        return text_;
    }

private:
    std::mutex mutex_;
    std::string text_;
    std::uint32_t level_ = 0;
    std::uint32_t mask_ = 0;
};

// The instance of a named request: 8 header bytes, the text, a terminator.
inline std::vector<char> named_instance(std::string_view text)
{
    std::vector<char> bytes(8, '\0');
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back('\0');
    return bytes;
}

inline std::uint32_t hr(const std::error_code& ec)
{
    return static_cast<std::uint32_t>(cam::to_hresult(ec));
}

// The camera's description bound to an in-memory device, then the service's
// description bound to the proxy, the proxy registered in the camera's
// registry as the camera base does, and a handler behind the Boolean.
class camera_fixture : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(registry.register_handler({cam::PROPSETID_EMULATED_REGISTER, 0x00040008}, &handler, 0));
        ASSERT_FALSE(proxy.init_and_register(camera_xml.data(), camera_xml.size(), &device));
        service = service_xml();
        ASSERT_FALSE(proxy.init_and_register(service.data(), service.size(), &proxy));
        proxy.register_handlers();
    }

    KsPropDataRequest request(std::uint32_t type, std::uint32_t id, void* instance, std::uint32_t instance_size,
                              void* value, std::uint32_t value_size)
    {
        KsPropDataRequest r;
        r.request_type = type;
        r.property_set = cam::PROPSETID_GENERIC_DRIVER_INTERFACE;
        r.property_id = id;
        r.instance = instance;
        r.instance_size = instance_size;
        r.value = value;
        r.value_size = value_size;
        return r;
    }
    // A named get into `size` bytes, through the registry as a client's
    // request travels.
    std::error_code named_get(std::string_view text, std::vector<unsigned char>& value, std::uint32_t& returned)
    {
        auto instance = named_instance(text);
        auto r = request(KsPropDataRequest::get, 4, instance.data(), static_cast<std::uint32_t>(instance.size()),
                         value.data(), static_cast<std::uint32_t>(value.size()));
        const std::error_code result = registry.get_request(r, cam::level_override);
        returned = r.bytes_returned;
        return result;
    }
    std::error_code named_set(std::string_view text, const void* value, std::uint32_t size)
    {
        auto instance = named_instance(text);
        auto r = request(KsPropDataRequest::set, 4, instance.data(), static_cast<std::uint32_t>(instance.size()),
                         const_cast<void*>(value), size);
        return registry.set_request(r, cam::level_override);
    }
    std::error_code named_set_int(std::string_view text, std::int64_t value)
    {
        return named_set(text, &value, sizeof(value));
    }
    // The 8-byte answer of a named get, or the error.
    std::int64_t get_int(std::string_view text)
    {
        std::vector<unsigned char> value(8);
        std::uint32_t returned = 0;
        const std::error_code result = named_get(text, value, returned);
        EXPECT_FALSE(result) << text << ": " << result.message();
        EXPECT_EQ(returned, 8u) << text;
        std::int64_t answer = 0;
        std::memcpy(&answer, value.data(), 8);
        return answer;
    }
    std::uint32_t device_word(std::uint64_t address)
    {
        std::uint32_t word = 0;
        std::memcpy(&word, device.memory.data() + address, 4);
        return word;
    }

    genicam_test::memory_device_port device;
    register_handler handler;
    gen_property::gen_property_reqistry registry;
    drv_genicam::genicam_named_req_proxy proxy{registry};
    std::string service;
};

} // namespace proxy_test
