#pragma once
// The camera's GenICam documents and their surface towards clients: the
// property set PROPSETID_GENERIC_DRIVER_INTERFACE gives each document's XML
// text (ids 1 and 2), read and write access to any feature by a textual
// request such as "ExposureTime/Value" (id 4) and to registers by address
// (id 24). The proxy is also the register port of the service's own document:
// a register access there becomes a request of PROPSETID_EMULATED_REGISTER
// that the camera's handler registry hands to the handler owning it. Finally
// it keeps the documents' feature values in the camera's property store.
//
// Requests reach the proxy under the camera's request lock; the proxy holds
// no lock of its own. Documents are added while the camera initialises and
// live, with every node pointer into them, as long as the proxy.

#include <windows.h>

#include "device_impl/device_impl_tools/propset.h"
#include "genicam/idevice_port.h"
#include "genicam/igenicam_doc.h"
#include "properties/property_store.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace GenICam {
class INode;
}

namespace drv_genicam {

// One loaded document: an owned copy of its XML text (no terminator added),
// its node map and the port its "Device" port is bound to (not owned).
struct doc_entry {
    std::vector<char> xml_text;
    std::unique_ptr<GenICam::IGenICamDoc> document;
    GenICam::IDevicePort* port = nullptr;
};

class genicam_named_req_proxy final : public cam::property_req_entry_itf, public GenICam::IDevicePort {
public:
    // Ids of PROPSETID_GENERIC_DRIVER_INTERFACE that the proxy serves.
    static constexpr std::uint32_t id_xml_size = 1;
    static constexpr std::uint32_t id_xml_text = 2;
    static constexpr std::uint32_t id_named_request = 4;
    static constexpr std::uint32_t id_register_access = 24;
    // Raw register accesses (id 24) above cam::max_raw_access_size are
    // refused.

    // The registry receives the register accesses of the service's document
    // and, through register_handlers, the proxy itself; not owned.
    explicit genicam_named_req_proxy(gen_property::gen_property_reqistry& registry);
    ~genicam_named_req_proxy() override;
    genicam_named_req_proxy(const genicam_named_req_proxy&) = delete;
    genicam_named_req_proxy& operator=(const genicam_named_req_proxy&) = delete;

    // Adds a document: loads a copy of the text, binds `port` (may be null) to
    // its "Device" port and switches an implemented integer
    // KyvDriverCompatibilityMode on. Text that does not load is not added:
    // E_INVALIDARG. Binding problems are logged; the document is added.
    std::error_code init_and_register(const void* xml_text, std::size_t length, GenICam::IDevicePort* port);

    // Logs the number of documents and, when there is one, registers the proxy
    // at level 0 under the four ids it serves.
    void register_handlers();

    // The documents in the order they were added (the camera's own first).
    const std::vector<doc_entry>& documents() const noexcept { return docs_; }

    // cam::property_req_entry_itf
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;
    void load_value(utils::property_store_itf& store) override;
    void save_value(utils::property_store_itf& store) override;

    // GenICam::IDevicePort: register accesses of the service's own document.
    // An address outside the driver-property ranges gives 0x80008003.
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) override;
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                          std::uint32_t flags) override;

    // Named feature access, as ids 4 get and set carry it. `returned` is
    // written only where the request fixes it.
    std::error_code exec_named_get_request(std::string_view request, void* value, std::uint32_t value_length,
                                           std::uint32_t& returned);
    std::error_code exec_named_set_request(std::string_view request, const void* value,
                                           std::uint32_t value_length);

    // (PROPSETID_EMULATED_REGISTER, low 32 bits) for an address whose high
    // 32 bits are 0xBCEA5412 or 0xCEBB0001; none (logged) otherwise.
    static std::optional<std::pair<GUID, std::uint32_t>> request_address_to_identifier(std::uint64_t address);

    // One node's value from and into the store, under the node's name. True
    // when a value was set or written. A save reads the value from the cache
    // (a node not read or written since load is skipped); with
    // `service_values` (a node of the service's own document) a node that was
    // is saved with the value the service holds now.
    bool load_node_from_store(utils::property_store_itf& store, GenICam::INode& node);
    bool save_node_to_store(utils::property_store_itf& store, GenICam::INode& node, bool service_values = false);

    // The second option of every document load: when 0, nodes marked as
    // debug properties stay out of the node map (not out of the XML text).
    std::uint8_t show_debug_properties = 0;

private:
    std::error_code named_get_request(KsPropDataRequest& request);
    std::error_code named_set_request(KsPropDataRequest& request);
    std::error_code document_request(KsPropDataRequest& request);
    std::error_code register_access(KsPropDataRequest& request);
    // `written`, when given, receives the bytes the handler reported (reads).
    std::error_code port_access(std::uint64_t address, void* buffer, std::int64_t length, bool write,
                                std::uint32_t* written = nullptr);
    GenICam::INode* find_node(std::string_view name);

    std::vector<doc_entry> docs_;
    gen_property::gen_property_reqistry& registry_;
};

} // namespace drv_genicam
