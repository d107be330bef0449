#pragma once
// A camera description with one item of every element kind, served by the
// GenICam-access script of the test filter.

#include "filter_fixture.h"

#include "propertypage/genicam_adapter_device.h"

#include "test_filter/genicam_service_script.h"

#include <string>

namespace pp_test {

inline constexpr const char* zoom_item_guid = "{0B1E5A57-0000-4000-8000-000000000001}";

inline std::string element_extension(int n)
{
    return "<Extension><VCDElementGUID>{0B1E5A57-0000-4000-8000-1000000000" + std::to_string(10 + n) +
           "}</VCDElementGUID></Extension>";
}

// Root → Lens → Zoom (the item) with an integer over a register, an
// enumeration with an entry that is never implemented, a locked boolean, a
// command and a float with a unit. `value_contents` replaces the integer's
// register and bounds, `speed_contents` the float's value and bounds.
inline std::string zoom_description(
    const std::string& value_name = "ZoomValue",
    const std::string& value_contents = "<pValue>ZoomReg</pValue><Min>10</Min><Max>20</Max>",
    const std::string& speed_contents = "<Value>1.5</Value><Min>0</Min><Max>3</Max>")
{
    return "<RegisterDescription ModelName=\"M\" VendorName=\"V\">"
           "<Category Name=\"Root\"><pFeature>Lens</pFeature></Category>"
           "<Category Name=\"Lens\"><DisplayName>Lens</DisplayName><pFeature>Zoom</pFeature></Category>"
           "<Category Name=\"Zoom\"><Extension><VCDItemGUID>" +
           std::string(zoom_item_guid) +
           "</VCDItemGUID></Extension><DisplayName>Zoom</DisplayName>"
           "<pFeature>" +
           value_name +
           "</pFeature><pFeature>ZoomMode</pFeature><pFeature>ZoomLocked</pFeature>"
           "<pFeature>ZoomGo</pFeature><pFeature>ZoomSpeed</pFeature></Category>"
           "<Integer Name=\"" +
           value_name + "\">" + element_extension(1) +
           "<DisplayName>Zoom value</DisplayName>" + value_contents + "</Integer>"
           "<IntReg Name=\"ZoomReg\"><Address>0x10</Address><Length>4</Length><AccessMode>RW</AccessMode>"
           "<pPort>Device</pPort><Sign>Signed</Sign><Endianess>LittleEndian</Endianess></IntReg>"
           "<Port Name=\"Device\"/>"
           "<Enumeration Name=\"ZoomMode\">" +
           element_extension(2) +
           "<EnumEntry Name=\"Near\"><DisplayName>Near focus</DisplayName><Value>0</Value></EnumEntry>"
           "<EnumEntry Name=\"Far\"><pIsImplemented>Never</pIsImplemented><Value>1</Value></EnumEntry>"
           "<EnumEntry Name=\"Macro\"><Value>2</Value></EnumEntry><pValue>ModeValue</pValue></Enumeration>"
           "<Integer Name=\"ModeValue\"><Value>0</Value></Integer>"
           "<Integer Name=\"Never\"><Value>0</Value></Integer>"
           "<Boolean Name=\"ZoomLocked\">" +
           element_extension(3) +
           "<pIsLocked>LockFlag</pIsLocked><Value>1</Value></Boolean>"
           "<Integer Name=\"LockFlag\"><Value>1</Value></Integer>"
           "<Command Name=\"ZoomGo\">" +
           element_extension(4) +
           "<Value>0</Value><CommandValue>1</CommandValue></Command>"
           "<Float Name=\"ZoomSpeed\">" +
           element_extension(5) +
           speed_contents + "<Unit>mm/s</Unit></Float>"
           "</RegisterDescription>";
}

class genicam_fixture : public filter_fixture {
protected:
    void SetUp() override
    {
        filter_fixture::SetUp();
        service.add_document(zoom_description());
    }
    // Installs the service script and makes an adapter over the filter.
    std::unique_ptr<genicam_adapter::GenICamAdapterDevice> adapter(bool named_access = true)
    {
        service.install(*backend);
        auto device = std::make_unique<genicam_adapter::GenICamAdapterDevice>(filter());
        device->set_access(false, named_access);
        return device;
    }
    // The descriptors of the adapter's camera, loaded once.
    std::span<const item_descriptor> load(genicam_adapter::GenICamAdapterDevice& device)
    {
        std::span<const item_descriptor> descriptors;
        EXPECT_EQ(device.load_genicam_documents(descriptors), S_OK) << device.last_error();
        return descriptors;
    }
    // Every feature implemented, as the service would say.
    void implement(std::initializer_list<const char*> names)
    {
        for (const char* name : names) {
            service.set_named_int(std::string(name) + "/IsImplemented", 1);
        }
    }
    // The interface id of the element named `name` in `item`.
    static interface_id id_of(const item_descriptor& item, const wchar_t* name)
    {
        for (const auto& element : item.elements) {
            if (element.name == name) {
                return element.interfaces.at(0).id;
            }
        }
        ADD_FAILURE() << "no element";
        return 0;
    }

    test_filter::genicam_service_script service;
};

} // namespace pp_test
