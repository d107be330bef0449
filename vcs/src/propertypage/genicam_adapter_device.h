#pragma once
// The camera's GenICam descriptions as the property pages see them: fetched
// from the service through the filter's IKsPropertySet (ids 1 and 2 of the
// GenICam-access set), loaded into the library's own node-map engine, and
// turned into item descriptors where the description marks categories and
// features for the pages. The device is also the documents' register port:
// register reads and writes go to the filter as id 3.
//
// Used on the page's thread only.

#include <windows.h>
#include <strmif.h>

#include "propertypage/vcd_item_tables.h"

#include "atl/com_ptr.h"
#include "genicam/idevice_port.h"
#include "genicam/igenicam_doc.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace genicam_adapter {

// Larger documents are left out before anything is allocated for them.
inline constexpr std::uint32_t max_document_size = 64u * 1024 * 1024;

class GenICamAdapterDevice final : public GenICam::IDevicePort {
public:
    // Holds its own reference to `filter`, which may be null (then every
    // access answers E_POINTER or its GenICam form).
    explicit GenICamAdapterDevice(IKsPropertySet* filter) noexcept;
    ~GenICamAdapterDevice() override;
    GenICamAdapterDevice(const GenICamAdapterDevice&) = delete;
    GenICamAdapterDevice& operator=(const GenICamAdapterDevice&) = delete;

    // Register access through the filter; failures reach the engine only as
    // 0x80008001, 0x80008006, 0x80000002, 0x80000003 or 0x80008002.
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) override;
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t flags) override;

    // Set by the page from what the filter supports (ids 3 and 4).
    void set_access(bool register_access, bool named_access) noexcept;
    bool register_access() const noexcept { return register_access_; }
    bool named_access() const noexcept { return named_access_; }

    // The item descriptors of the camera's documents. Built on the first call
    // and, while none came out, on every later call, from a fresh fetch. A
    // document whose size is above max_document_size or whose bytes come back
    // fewer than its size is left out with its items (logged, and kept in
    // skipped_documents()); the others still count. A failure answers its
    // HRESULT (no filter: E_POINTER; a document that does not parse: E_FAIL)
    // and leaves `descriptors` unchanged; last_error() then says what failed.
    HRESULT load_genicam_documents(std::span<const item_descriptor>& descriptors) noexcept;
    const std::string& last_error() const noexcept { return last_error_; }
    std::size_t document_count() const noexcept { return documents_.size(); }
    // Why each document of the last fetch that was left out was left out.
    const std::vector<std::string>& skipped_documents() const noexcept { return skipped_; }

    IKsPropertySet* filter() const noexcept { return filter_.get(); }

private:
    // Both throw hr_exception (or std::bad_alloc) on failure.
    void fetch_documents();
    void build_descriptors();
    // Logs why a document is left out and keeps the reason.
    void skip_document(std::string reason);
    void remember_error(const char* text) noexcept;

    std::vector<std::shared_ptr<GenICam::IGenICamDoc>> documents_;
    atl::com_ptr<IKsPropertySet> filter_;
    bool register_access_ = false;
    bool named_access_ = false;
    std::vector<item_descriptor> descriptors_;
    std::string last_error_;
    std::vector<std::string> skipped_;
};

} // namespace genicam_adapter
