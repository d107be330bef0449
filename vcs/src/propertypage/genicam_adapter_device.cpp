#include "propertypage/genicam_adapter_device.h"

#include "propertypage/filter_interfaces.h"
#include "propertypage/genicam_hresult.h"
#include "propertypage/genicam_item_scan.h"
#include "propertypage/genicam_named_access.h"
#include "propertypage/genicam_propdata_named.h"
#include "propertypage/genicam_propdata_portbased.h"
#include "propertypage/hr_exception.h"
#include "propertypage/ks_property_access.h"

#include "genicam/genicam_doc.h"
#include "genicam/iport.h"
#include "gen_utils/string_conv.h"

#include <fmt/format.h>

#include <limits>
#include <new>

namespace genicam_adapter {

namespace {

constexpr DWORD document_size_id = 1;
constexpr DWORD document_bytes_id = 2;
constexpr DWORD register_access_id = 3;
constexpr std::int32_t genicam_item_priority = 10;
// A camera has a handful of documents; a filter that answers without end is
// not followed further.
constexpr std::uint32_t max_document_count = 256;

std::error_code check_length(std::int64_t length) noexcept
{
    if (length < 0 || static_cast<std::uint64_t>(length) > std::numeric_limits<DWORD>::max()) {
        return GenICam::make_error_code(GenICam::errc::invalid_parameter);
    }
    return {};
}

} // namespace

GenICamAdapterDevice::GenICamAdapterDevice(IKsPropertySet* filter) noexcept : filter_(retain(filter)) {}

GenICamAdapterDevice::~GenICamAdapterDevice()
{
    // The documents are bound to this port: they go before it does.
    documents_.clear();
}

std::error_code GenICamAdapterDevice::read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t)
{
    if (const std::error_code e = check_length(length)) {
        return e;
    }
    if (!filter_) {
        return hresult_to_genicam(E_POINTER);
    }
    DWORD returned = 0;
    const HRESULT hr = filter_->Get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, register_access_id, &address,
                                    sizeof(address), buffer, static_cast<DWORD>(length), &returned);
    // Fewer bytes than the register holds are no value of it.
    if (hr == S_OK && returned < static_cast<DWORD>(length)) {
        return GenICam::make_error_code(GenICam::errc::invalid_parameter);
    }
    return hresult_to_genicam(hr);
}

std::error_code GenICamAdapterDevice::write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t)
{
    if (const std::error_code e = check_length(length)) {
        return e;
    }
    if (!filter_) {
        return hresult_to_genicam(E_POINTER);
    }
    return hresult_to_genicam(filter_->Set(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, register_access_id, &address,
                                           sizeof(address), const_cast<void*>(data), static_cast<DWORD>(length)));
}

void GenICamAdapterDevice::set_access(bool register_access, bool named_access) noexcept
{
    register_access_ = register_access;
    named_access_ = named_access;
}

HRESULT GenICamAdapterDevice::load_genicam_documents(std::span<const item_descriptor>& descriptors) noexcept
{
    if (!filter_) {
        return E_POINTER;
    }
    HRESULT hr = S_OK;
    try {
        if (descriptors_.empty()) {
            last_error_.clear();
            fetch_documents();
            build_descriptors();
        }
    } catch (const hr_exception& e) {
        hr = e.hr();
        remember_error(e.what());
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
        remember_error("Out of memory while loading GenICam data");
    } catch (...) {
        hr = E_FAIL;
        remember_error("Failed to load GenICam data");
    }
    if (FAILED(hr)) {
        return hr;
    }
    descriptors = descriptors_;
    return S_OK;
}

void GenICamAdapterDevice::remember_error(const char* text) noexcept
{
    try {
        last_error_ = text;
    } catch (...) {
        last_error_.clear();
    }
}

void GenICamAdapterDevice::fetch_documents()
{
    // A fetch starts from nothing: documents of an earlier fetch would
    // otherwise be listed twice.
    documents_.clear();
    skipped_.clear();
    for (std::uint32_t index = 0; index < max_document_count; ++index) {
        std::uint32_t instance[2] = {1, index};
        std::uint32_t size = 0;
        DWORD returned = 0;
        HRESULT hr = filter_->Get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, document_size_id, instance, sizeof(instance),
                                  &size, sizeof(size), &returned);
        if (hr != S_OK && index == 0) {
            // Services that know a single document ask for selector 0.
            instance[0] = 0;
            hr = filter_->Get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, document_size_id, instance, sizeof(instance),
                              &size, sizeof(size), &returned);
        }
        if (hr != S_OK || returned != sizeof(size)) {
            return;
        }
        if (size > max_document_size) {
            skip_document(fmt::format("GenICam document {} of {} bytes is larger than the limit of {} bytes", index,
                                      size, max_document_size));
            continue;
        }
        std::vector<char> bytes(size);
        hr = filter_->Get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, document_bytes_id, instance, sizeof(instance),
                          bytes.data(), size, &returned);
        if (hr != S_OK || returned > size) {
            return;
        }
        if (returned < size) {
            skip_document(fmt::format("GenICam document {} came with {} of its {} bytes", index, returned, size));
            continue;
        }
        auto document = std::make_shared<GenICam::impl::genicam_doc>();
        if (!document->load_xml(bytes.data(), bytes.size())) {
            throw hr_exception("Failed to parse GenICam data");
        }
        if (GenICam::IPort* port = document->find_port("Device")) {
            port->bind(this);
        }
        documents_.push_back(std::move(document));
    }
}

void GenICamAdapterDevice::skip_document(std::string reason)
{
    // One unreadable document costs only its own items: the camera's other
    // documents and the built-in items still make the page.
    OutputDebugStringA(("[CamTovra] genicam_adapter::GenICamAdapterDevice::fetch_documents, " + reason +
                        "; its items are left out\n")
                           .c_str());
    skipped_.push_back(std::move(reason));
}

void GenICamAdapterDevice::build_descriptors()
{
    IKsPropertySet* filter = filter_.get();
    const bool named = named_access_;
    const implemented_test is_implemented = [filter, named](GenICam::INode& feature) {
        if (named) {
            return named_read_bool(filter, std::string(feature.get_name()) + "/IsImplemented");
        }
        return feature.is_implemented();
    };
    std::vector<item_descriptor> built;
    for (const auto& document : documents_) {
        for (const scanned_item& item : scan_items(*document, is_implemented)) {
            item_descriptor descriptor;
            descriptor.category = utils::to_utf16(item.category_name);
            descriptor.priority = genicam_item_priority;
            descriptor.item_guid = to_guid(item.item_guid);
            descriptor.item_name = utils::to_utf16(item.item_name);
            descriptor.create = named ? &genicam_propdata_named::create : &genicam_propdata_portbased::create;
            for (const scanned_element& found : item.elements) {
                element_descriptor element;
                element.element_guid = to_guid(found.guid);
                element.name = utils::to_utf16(found.display_name);
                element.interfaces.push_back({reinterpret_cast<interface_id>(found.feature), found.kind});
                descriptor.elements.push_back(std::move(element));
            }
            built.push_back(std::move(descriptor));
        }
    }
    descriptors_ = std::move(built);
}

} // namespace genicam_adapter
