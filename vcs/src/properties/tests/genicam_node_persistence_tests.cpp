#include "proxy_test_support.h"

#include "gen_utils/registry.h"
#include "gen_utils/win32_utils.h"
#include "properties/genicam_node_persistence.h"
#include "properties/property_store_registry.h"

#include <bit>
#include <limits>
#include <optional>

namespace {

using namespace proxy_test;

// A throw-away key under HKCU, read back with the registry's own calls.
class persistence : public testing::Test {
protected:
    void SetUp() override
    {
        path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
        store = std::make_unique<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
        ASSERT_TRUE(store->is_open());
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
        raw_key.reset(key);
    }
    void TearDown() override
    {
        store.reset();
        raw_key.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }

    // A camera as it starts: its description on a fresh device, the stored
    // values loaded.
    struct camera {
        explicit camera(persistence& test, bool load = true, std::string_view xml = camera_xml)
        {
            EXPECT_FALSE(proxy.init_and_register(xml.data(), xml.size(), &device));
            if (load) {
                proxy.load_value(*test.store);
            }
        }
        std::int64_t get(std::string_view request)
        {
            std::int64_t value = 0;
            std::uint32_t returned = 0;
            EXPECT_FALSE(proxy.exec_named_get_request(request, &value, 8, returned)) << request;
            return value;
        }
        std::error_code set(std::string_view request, std::int64_t value)
        {
            return proxy.exec_named_set_request(request, &value, 8);
        }
        std::uint32_t word(std::uint64_t address)
        {
            std::uint32_t w = 0;
            std::memcpy(&w, device.memory.data() + address, 4);
            return w;
        }

        genicam_test::memory_device_port device;
        gen_property::gen_property_reqistry registry;
        drv_genicam::genicam_named_req_proxy proxy{registry};
    };

    // The stored QWORD under `name`, or none (absent or of another type).
    std::optional<std::uint64_t> stored(const wchar_t* name)
    {
        DWORD type = REG_NONE;
        std::uint64_t value = 0;
        DWORD size = sizeof(value);
        if (RegQueryValueExW(raw_key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_QWORD || size != sizeof(value)) {
            return std::nullopt;
        }
        return value;
    }
    void put_raw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetValueExW(raw_key.get(), name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    void put_qword(const wchar_t* name, std::uint64_t value) { put_raw(name, REG_QWORD, &value, sizeof(value)); }

    std::wstring path;
    std::unique_ptr<utils::property_store_registry> store;
    utils::unique_hkey raw_key;
};

TEST_F(persistence, float_feature_is_stored_as_its_double_bits_and_set_again_on_load)
{
    {
        camera first(*this);
        ASSERT_FALSE(first.set("Gamma/Value", std::bit_cast<std::int64_t>(1.5)));
        first.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Gamma"), 0x3FF8000000000000u);
    camera second(*this);
    double gamma = 0;
    std::memcpy(&gamma, second.device.memory.data() + 0x108, 8);
    EXPECT_EQ(gamma, 1.5);
    EXPECT_EQ(second.get("Gamma/Value"), std::bit_cast<std::int64_t>(1.5));
}

TEST_F(persistence, saved_values_of_every_kind_come_back_in_a_new_camera)
{
    {
        camera first(*this);
        ASSERT_FALSE(first.set("Width/Value", 640));
        ASSERT_FALSE(first.set("TriggerMode/Index", 1));
        ASSERT_FALSE(first.set("ReverseX/Value", 1));
        first.proxy.save_value(*store);
        // A second save stores the same values.
        first.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Width"), 640u);
    EXPECT_EQ(stored(L"TriggerMode"), 1u);
    EXPECT_EQ(stored(L"ReverseX"), 1u);
    EXPECT_EQ(stored(L"Root"), std::nullopt) << "a category holds no value";
    camera second(*this);
    EXPECT_EQ(second.word(0x100), 640u);
    EXPECT_EQ(second.word(0x110), 1u);
    EXPECT_EQ(second.word(0x118), 1u);
}

// A caching StructReg whose entries are set one after the other, two of them
// through an Enumeration and a Boolean: each write leaves the other entries'
// values cached, so all of them are saved, not the values of an earlier
// session.
constexpr std::string_view struct_xml = R"(<?xml version="1.0"?>
<RegisterDescription ModelName="Cam" VendorName="Test" StandardNameSpace="U3V" MajorVersion="1" MinorVersion="0" SubMinorVersion="0">
  <StructReg Comment="Control"><Address>0x400</Address><Length>4</Length><pPort>Device</pPort>
    <Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess>
    <StructEntry Name="Low"><LSB>0</LSB><MSB>7</MSB><AccessMode>RW</AccessMode></StructEntry>
    <StructEntry Name="High"><LSB>8</LSB><MSB>15</MSB><AccessMode>RW</AccessMode></StructEntry>
    <StructEntry Name="ModeBits"><LSB>16</LSB><MSB>17</MSB><AccessMode>RW</AccessMode></StructEntry>
    <StructEntry Name="FlipBit"><Bit>24</Bit><AccessMode>RW</AccessMode></StructEntry>
  </StructReg>
  <Enumeration Name="Mode"><EnumEntry Name="Off"><Value>0</Value></EnumEntry>
    <EnumEntry Name="On"><Value>1</Value></EnumEntry><EnumEntry Name="Auto"><Value>2</Value></EnumEntry>
    <pValue>ModeBits</pValue></Enumeration>
  <Boolean Name="Flip"><pValue>FlipBit</pValue></Boolean>
  <Port Name="Device"/>
</RegisterDescription>
)";

TEST_F(persistence, struct_entries_set_one_after_the_other_are_all_saved)
{
    put_qword(L"Low", 0x11);
    put_qword(L"High", 0x22);
    put_qword(L"Mode", 1);
    put_qword(L"Flip", 0);
    {
        camera first(*this, true, struct_xml);
        EXPECT_EQ(first.word(0x400), 0x00012211u) << "the earlier session's values";
        ASSERT_FALSE(first.set("Mode/Index", 2));
        ASSERT_FALSE(first.set("Flip/Value", 1));
        ASSERT_FALSE(first.set("Low/Value", 0xAB));
        ASSERT_FALSE(first.set("High/Value", 0x56));
        EXPECT_EQ(first.word(0x400), 0x010256ABu);
        first.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Low"), 0xABu);
    EXPECT_EQ(stored(L"High"), 0x56u);
    EXPECT_EQ(stored(L"Mode"), 2u);
    EXPECT_EQ(stored(L"Flip"), 1u);
    EXPECT_EQ(stored(L"ModeBits"), 2u);
    EXPECT_EQ(stored(L"FlipBit"), 1u);
    camera second(*this, true, struct_xml);
    EXPECT_EQ(second.word(0x400), 0x010256ABu);
    EXPECT_EQ(second.get("Low/Value"), 0xAB);
    EXPECT_EQ(second.get("High/Value"), 0x56);
}

// Features of every cache mode: a NoCache IntReg (the default), a NoCache bit
// field, a WriteAround IntReg and FloatReg, whose registers keep no written
// value for later reads, and a WriteThrough IntReg and FloatReg. Each one read,
// set, and then set again to a value the camera refuses must be saved with the
// value the camera took.
constexpr std::string_view uncached_xml = R"(<?xml version="1.0"?>
<RegisterDescription ModelName="Cam" VendorName="Test" StandardNameSpace="U3V" MajorVersion="1" MinorVersion="0" SubMinorVersion="0">
  <Integer Name="Exposure"><pValue>ExposureReg</pValue><Min>0</Min><Max>100000</Max></Integer>
  <IntReg Name="ExposureReg"><Address>0x500</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Endianess>LittleEndian</Endianess></IntReg>
  <Integer Name="BlackLevel"><pValue>BlackLevelReg</pValue><Min>0</Min><Max>255</Max></Integer>
  <IntReg Name="BlackLevelReg"><Address>0x504</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteAround</Cachable><Endianess>LittleEndian</Endianess></IntReg>
  <Integer Name="Binning"><pValue>BinningBits</pValue><Min>0</Min><Max>15</Max></Integer>
  <MaskedIntReg Name="BinningBits"><Address>0x508</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><LSB>4</LSB><MSB>7</MSB><Endianess>LittleEndian</Endianess></MaskedIntReg>
  <Float Name="Brightness"><pValue>BrightnessReg</pValue><Min>0</Min><Max>10</Max></Float>
  <FloatReg Name="BrightnessReg"><Address>0x510</Address><Length>8</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteAround</Cachable><Endianess>LittleEndian</Endianess></FloatReg>
  <Integer Name="Contrast"><pValue>ContrastReg</pValue><Min>0</Min><Max>255</Max></Integer>
  <IntReg Name="ContrastReg"><Address>0x518</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess></IntReg>
  <Float Name="Sharpness"><pValue>SharpnessReg</pValue><Min>0</Min><Max>10</Max></Float>
  <FloatReg Name="SharpnessReg"><Address>0x520</Address><Length>8</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess></FloatReg>
  <Port Name="Device"/>
</RegisterDescription>
)";

TEST_F(persistence, features_are_saved_with_the_value_the_camera_took_last_whatever_their_cache_mode)
{
    put_qword(L"Exposure", 100);
    put_qword(L"BlackLevel", 10);
    put_qword(L"Binning", 2);
    put_qword(L"Brightness", std::bit_cast<std::uint64_t>(1.0));
    put_qword(L"Contrast", 20);
    put_qword(L"Sharpness", std::bit_cast<std::uint64_t>(3.0));
    {
        camera first(*this, true, uncached_xml);
        EXPECT_EQ(first.get("Exposure/Value"), 100) << "the earlier session's values";
        EXPECT_EQ(first.get("BlackLevel/Value"), 10);
        EXPECT_EQ(first.get("Binning/Value"), 2);
        EXPECT_EQ(first.get("Brightness/Value"), std::bit_cast<std::int64_t>(1.0));
        EXPECT_EQ(first.get("Contrast/Value"), 20);
        EXPECT_EQ(first.get("Sharpness/Value"), std::bit_cast<std::int64_t>(3.0));
        ASSERT_FALSE(first.set("Exposure/Value", 2500));
        ASSERT_FALSE(first.set("BlackLevel/Value", 42));
        ASSERT_FALSE(first.set("Binning/Value", 9));
        ASSERT_FALSE(first.set("Brightness/Value", std::bit_cast<std::int64_t>(2.5)));
        ASSERT_FALSE(first.set("Contrast/Value", 77));
        ASSERT_FALSE(first.set("Sharpness/Value", std::bit_cast<std::int64_t>(4.5)));
        first.device.fail_writes = true;
        EXPECT_TRUE(first.set("Exposure/Value", 2600));
        EXPECT_TRUE(first.set("BlackLevel/Value", 50));
        EXPECT_TRUE(first.set("Binning/Value", 5));
        EXPECT_TRUE(first.set("Brightness/Value", std::bit_cast<std::int64_t>(3.5)));
        EXPECT_TRUE(first.set("Contrast/Value", 80));
        EXPECT_TRUE(first.set("Sharpness/Value", std::bit_cast<std::int64_t>(5.5)));
        first.device.fail_writes = false;
        first.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Exposure"), 2500u);
    EXPECT_EQ(stored(L"BlackLevel"), 42u);
    EXPECT_EQ(stored(L"Binning"), 9u);
    EXPECT_EQ(stored(L"Brightness"), std::bit_cast<std::uint64_t>(2.5));
    EXPECT_EQ(stored(L"Contrast"), 77u);
    EXPECT_EQ(stored(L"Sharpness"), std::bit_cast<std::uint64_t>(4.5));
    EXPECT_EQ(stored(L"ExposureReg"), 2500u);
    EXPECT_EQ(stored(L"BinningBits"), 9u);
    EXPECT_EQ(stored(L"ContrastReg"), 77u);
    camera second(*this, true, uncached_xml);
    EXPECT_EQ(second.word(0x500), 2500u);
    EXPECT_EQ(second.word(0x504), 42u);
    EXPECT_EQ(second.word(0x508), 0x90u);
    EXPECT_EQ(second.word(0x518), 77u);
    const auto f64_at = [&](std::uint64_t address) {
        double value = 0;
        std::memcpy(&value, second.device.memory.data() + address, 8);
        return value;
    };
    EXPECT_EQ(f64_at(0x510), 2.5);
    EXPECT_EQ(f64_at(0x520), 4.5);
}

TEST_F(persistence, values_not_read_since_load_keep_their_stored_value)
{
    put_qword(L"Width", 320);
    put_qword(L"Offset", 7);
    {
        camera fresh(*this, false);
        fresh.device.put(0x140, {3, 0, 0, 0});
        // Offset's value is read, its lock (a register of its own) is not.
        EXPECT_EQ(fresh.get("Offset/Value"), 3);
        fresh.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Width"), 320u);
    EXPECT_EQ(stored(L"Offset"), 7u);
}

TEST_F(persistence, locked_nodes_lose_their_stored_value_and_are_not_loaded)
{
    put_qword(L"Gain", 9);
    {
        camera loaded(*this);
        EXPECT_EQ(loaded.word(0x128), 0u) << "a locked node is not set from the store";
        EXPECT_EQ(loaded.get("Gain/Value"), 0);
        loaded.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Gain"), std::nullopt);
}

TEST_F(persistence, stored_values_a_set_would_refuse_are_ignored)
{
    put_qword(L"Width", 5000); // above Max
    put_qword(L"Gamma", std::bit_cast<std::uint64_t>(std::numeric_limits<double>::quiet_NaN()));
    put_qword(L"TriggerMode", 7); // no such entry
    put_raw(L"ReverseX", REG_SZ, L"1", 4);
    const unsigned char bytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    put_raw(L"TriggerModeReg", REG_BINARY, bytes, sizeof(bytes));
    log_lines log;
    camera loaded(*this);
    EXPECT_EQ(loaded.word(0x100), 0u);
    EXPECT_EQ(loaded.device.get(0x108, 8), std::vector<std::uint8_t>(8, 0));
    EXPECT_EQ(loaded.word(0x110), 0u);
    EXPECT_EQ(loaded.word(0x118), 0u);
    EXPECT_TRUE(log.has("[CamTovra] load_node_from_store => node=\"Width\" read from storage and set, "
                        "status=0x80000104.\n"))
        << log.text();
    EXPECT_TRUE(log.has("[CamTovra] load_node_from_store => node=\"TriggerMode\" read from storage and set, "
                        "status=0x80000102.\n"));
    EXPECT_TRUE(log.has("[CamTovra] load_node_from_store => node=\"ReverseX\" failed to read value from key for "
                        "node.\n"));
    EXPECT_TRUE(log.has("[CamTovra] load_node_from_store => node=\"Gain\" is locked.\n"));
    EXPECT_TRUE(log.has("[CamTovra] load_node_from_store => node=\"Root\" skipped due to no type.\n"));
}

TEST_F(persistence, saving_logs_each_node_and_a_store_without_key_changes_nothing)
{
    camera loaded(*this, false);
    ASSERT_FALSE(loaded.set("Width/Value", 32));
    log_lines log;
    loaded.proxy.save_value(*store);
    EXPECT_TRUE(log.has("[CamTovra] save_node_to_store => wrote node=\"Width\", successfully.\n")) << log.text();
    EXPECT_TRUE(log.has("[CamTovra] save_node_to_store => node=\"Gain\", is locked.\n"));
    EXPECT_TRUE(log.has("[CamTovra] save_node_to_store => unknown type for node=\"Root\".\n"));
    EXPECT_TRUE(log.has("[CamTovra] save_node_to_store => node=\"Gamma\", was not cached, so skipping this.\n"));

    utils::property_store_registry unopened(reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x7FFF0001)), L"x",
                                            KEY_READ);
    ASSERT_FALSE(unopened.is_open());
    loaded.proxy.save_value(unopened);
    loaded.proxy.load_value(unopened);
    EXPECT_EQ(loaded.word(0x100), 32u);
}

// A second description with features named as the first's, one in another
// case and one of another kind, and a feature the service implements.
constexpr std::string_view twin_xml = R"(<?xml version="1.0"?>
<RegisterDescription ModelName="Twin" VendorName="Test" StandardNameSpace="U3V" MajorVersion="1" MinorVersion="0" SubMinorVersion="0">
  <Integer Name="WIDTH"><pValue>TwinWidthReg</pValue><Min>0</Min><Max>100000</Max></Integer>
  <IntReg Name="TwinWidthReg"><Address>0x600</Address><Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Integer Name="Gamma"><pValue>TwinGammaReg</pValue><Min>0</Min><Max>9223372036854775807</Max></Integer>
  <IntReg Name="TwinGammaReg"><Address>0x608</Address><Length>8</Length><AccessMode>RW</AccessMode><pPort>Device</pPort><Cachable>WriteThrough</Cachable><Sign>Unsigned</Sign><Endianess>LittleEndian</Endianess></IntReg>
  <Integer Name="Exposure"><Extension><PropertyImplementer>Driver</PropertyImplementer></Extension><Value>3</Value></Integer>
  <Port Name="Device"/>
</RegisterDescription>
)";

TEST_F(persistence, a_name_features_share_without_regard_to_case_is_kept_for_the_first_only)
{
    put_qword(L"Width", 640);
    put_qword(L"Gamma", std::bit_cast<std::uint64_t>(1.5));
    {
        camera first(*this, false);
        ASSERT_FALSE(first.proxy.init_and_register(twin_xml.data(), twin_xml.size(), &first.device));
        first.proxy.load_value(*store);
        EXPECT_EQ(first.word(0x100), 640u);
        EXPECT_EQ(first.word(0x600), 0u) << "WIDTH is not Width";
        EXPECT_EQ(first.device.get(0x608, 8), std::vector<std::uint8_t>(8, 0)) << "nor is the integer Gamma";
        ASSERT_FALSE(first.set("Width/Value", 320));
        ASSERT_FALSE(first.set("WIDTH/Value", 7));
        first.proxy.save_value(*store);
    }
    EXPECT_EQ(stored(L"Width"), 320u);
    EXPECT_EQ(stored(L"Gamma"), std::bit_cast<std::uint64_t>(1.5));
    EXPECT_EQ(stored(L"TwinWidthReg"), 7u) << "its register's name is its own";
}

TEST_F(persistence, a_handler_keeps_its_value_beside_the_walk_under_a_name_no_walked_node_has)
{
    camera both(*this, false);
    ASSERT_FALSE(both.proxy.init_and_register(twin_xml.data(), twin_xml.size(), &both.device));
    const std::span<const drv_genicam::doc_entry> documents = both.proxy.documents();
    struct row {
        const wchar_t* name;
        const wchar_t* kept_as;
    };
    const row rows[] = {
        {L"width", L"uvc.width"},
        {L"GAMMA", L"uvc.GAMMA"},
        {L"TriggerModeReg", L"uvc.TriggerModeReg"},
        {L"Root", L"uvc.Root"},         // a category: the walk removes its name
        {L"Exposure", L"Exposure"},     // implemented by the service: not walked
        {L"Width.auto", L"Width.auto"}, // no node name holds a '.'
        {L"Brightness", L"Brightness"},
    };
    for (const row& r : rows) {
        EXPECT_EQ(drv_genicam::handler_value_name(documents, store.get(), r.name, drv_genicam::uvc_value_prefix),
                  r.kept_as);
    }
    // Once moved, a value stays where it is when the description is missing.
    EXPECT_EQ(drv_genicam::handler_value_name({}, store.get(), L"Width", drv_genicam::service_value_prefix), L"Width");
    put_qword(L"service.Width", 1);
    EXPECT_EQ(drv_genicam::handler_value_name({}, store.get(), L"width", drv_genicam::service_value_prefix),
              L"service.width");
}

} // namespace
