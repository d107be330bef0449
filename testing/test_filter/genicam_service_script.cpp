#include "test_filter/genicam_service_script.h"

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <algorithm>
#include <array>

namespace test_filter {

namespace {
constexpr HRESULT insufficient_buffer = static_cast<HRESULT>(0x8007007AL);
constexpr std::size_t named_instance_minimum = 10;
constexpr std::size_t named_instance_maximum = 1000;

std::uint32_t u32_at(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}
} // namespace

struct genicam_service_script::state {
    mutable std::mutex lock_;
    // Everything below is guarded by lock_.
    std::vector<std::string> documents;
    bool refuse_selector_one = false;
    std::map<std::uint32_t, std::uint32_t> reported_sizes;
    std::map<std::uint32_t, std::uint32_t> delivered;
    std::map<std::string, std::vector<std::uint8_t>> named;
    std::map<std::string, HRESULT> named_failures;
    std::vector<named_write> writes;
    std::vector<std::string> requests;
    bool registers_served = false;
    std::array<std::uint8_t, 0x1000> registers{};

    // The document an instance {selector, index} names; null when refused.
    const std::string* document(std::span<const std::uint8_t> instance, std::uint32_t& index) const
    {
        if (instance.size() < 8) {
            return nullptr;
        }
        const std::uint32_t selector = u32_at(instance, 0);
        index = u32_at(instance, 4);
        const bool first = index == 0;
        if (refuse_selector_one && first ? selector != 0 : selector == 0) {
            return nullptr;
        }
        return index < documents.size() ? &documents[index] : nullptr;
    }

    // The request text of a named-access instance; false when refused.
    static bool request_text(std::span<const std::uint8_t> instance, std::string& text)
    {
        if (instance.size() < named_instance_minimum || instance.size() > named_instance_maximum) {
            return false;
        }
        // The service ends the text at the instance's last byte at the latest.
        const auto* first = reinterpret_cast<const char*>(instance.data()) + 8;
        text.assign(first, strnlen(first, instance.size() - 9));
        return !text.empty();
    }
};

genicam_service_script::genicam_service_script() : state_(std::make_shared<state>()) {}

void genicam_service_script::install(scripted_backend& backend)
{
    const GUID& set = cam::PROPSETID_GENERIC_DRIVER_INTERFACE;
    std::shared_ptr<state> s = state_;
    backend.respond_get(
        set, 1, [s](std::span<const std::uint8_t> instance, std::span<std::uint8_t> data, DWORD& returned) {
            std::lock_guard guard(s->lock_);
            std::uint32_t index = 0;
            const std::string* document = s->document(instance, index);
            if (document == nullptr) {
                return E_INVALIDARG;
            }
            if (data.size() < 4) {
                return insufficient_buffer;
            }
            const auto reported = s->reported_sizes.find(index);
            const std::uint32_t size =
                reported != s->reported_sizes.end() ? reported->second : static_cast<std::uint32_t>(document->size());
            std::memcpy(data.data(), &size, sizeof(size));
            returned = sizeof(size);
            return S_OK;
        });
    backend.respond_get(set, 2,
                        [s](std::span<const std::uint8_t> instance, std::span<std::uint8_t> data, DWORD& returned) {
                            std::lock_guard guard(s->lock_);
                            std::uint32_t index = 0;
                            const std::string* document = s->document(instance, index);
                            if (document == nullptr) {
                                return E_INVALIDARG;
                            }
                            std::size_t count = document->size();
                            if (const auto cut = s->delivered.find(index); cut != s->delivered.end()) {
                                count = std::min<std::size_t>(count, cut->second);
                            }
                            if (data.size() < count) {
                                return insufficient_buffer;
                            }
                            std::memcpy(data.data(), document->data(), count);
                            returned = static_cast<DWORD>(count);
                            return S_OK;
                        });
    backend.respond_get(set, 4,
                        [s](std::span<const std::uint8_t> instance, std::span<std::uint8_t> data, DWORD& returned) {
                            std::lock_guard guard(s->lock_);
                            std::string text;
                            if (!state::request_text(instance, text) || data.size() < 4) {
                                return E_INVALIDARG;
                            }
                            s->requests.push_back(text);
                            if (const auto failure = s->named_failures.find(text); failure != s->named_failures.end()) {
                                return failure->second;
                            }
                            const auto found = s->named.find(text);
                            if (found == s->named.end()) {
                                return E_INVALIDARG;
                            }
                            if (data.size() < found->second.size()) {
                                return insufficient_buffer;
                            }
                            std::memcpy(data.data(), found->second.data(), found->second.size());
                            returned = static_cast<DWORD>(found->second.size());
                            return S_OK;
                        });
    backend.respond_set(set, 4, [s](std::span<const std::uint8_t> instance, std::span<const std::uint8_t> data) {
        std::lock_guard guard(s->lock_);
        std::string text;
        if (!state::request_text(instance, text) || data.size() < 4) {
            return E_NOTIMPL;
        }
        s->requests.push_back(text);
        s->writes.push_back({text, {data.begin(), data.end()}});
        if (const auto failure = s->named_failures.find(text); failure != s->named_failures.end()) {
            return failure->second;
        }
        s->named[text] = {data.begin(), data.end()};
        return S_OK;
    });
    bool registers = false;
    {
        std::lock_guard guard(s->lock_);
        registers = s->registers_served;
    }
    if (!registers) {
        // Like the service, which has no id 3: QuerySupported refuses it too.
        return;
    }
    backend.respond_get(set, 3,
                        [s](std::span<const std::uint8_t> instance, std::span<std::uint8_t> data, DWORD& returned) {
                            std::lock_guard guard(s->lock_);
                            if (!s->registers_served) {
                                return E_NOTIMPL;
                            }
                            std::uint64_t address = 0;
                            if (instance.size() < sizeof(address)) {
                                return E_INVALIDARG;
                            }
                            std::memcpy(&address, instance.data(), sizeof(address));
                            if (address > s->registers.size() || data.size() > s->registers.size() - address) {
                                return E_INVALIDARG;
                            }
                            std::memcpy(data.data(), s->registers.data() + address, data.size());
                            returned = static_cast<DWORD>(data.size());
                            return S_OK;
                        });
    backend.respond_set(set, 3, [s](std::span<const std::uint8_t> instance, std::span<const std::uint8_t> data) {
        std::lock_guard guard(s->lock_);
        if (!s->registers_served) {
            return E_NOTIMPL;
        }
        std::uint64_t address = 0;
        if (instance.size() < sizeof(address)) {
            return E_INVALIDARG;
        }
        std::memcpy(&address, instance.data(), sizeof(address));
        if (address > s->registers.size() || data.size() > s->registers.size() - address) {
            return E_INVALIDARG;
        }
        std::memcpy(s->registers.data() + address, data.data(), data.size());
        return S_OK;
    });
}

void genicam_service_script::add_document(std::string xml)
{
    std::lock_guard guard(state_->lock_);
    state_->documents.push_back(std::move(xml));
}

void genicam_service_script::refuse_selector_one_for_first(bool refuse)
{
    std::lock_guard guard(state_->lock_);
    state_->refuse_selector_one = refuse;
}

void genicam_service_script::report_size(std::uint32_t index, std::uint32_t size)
{
    std::lock_guard guard(state_->lock_);
    state_->reported_sizes[index] = size;
}

void genicam_service_script::deliver_bytes(std::uint32_t index, std::uint32_t count)
{
    std::lock_guard guard(state_->lock_);
    state_->delivered[index] = count;
}

void genicam_service_script::set_named(const std::string& request, std::vector<std::uint8_t> value)
{
    std::lock_guard guard(state_->lock_);
    state_->named_failures.erase(request);
    state_->named[request] = std::move(value);
}

void genicam_service_script::set_named_int(const std::string& request, std::int64_t value)
{
    set_named(request, bytes_of(value));
}

void genicam_service_script::set_named_double(const std::string& request, double value)
{
    set_named(request, bytes_of(value));
}

void genicam_service_script::set_named_text(const std::string& request, const std::string& text)
{
    set_named(request, {text.begin(), text.end()});
}

void genicam_service_script::fail_named(const std::string& request, HRESULT hr)
{
    std::lock_guard guard(state_->lock_);
    state_->named_failures[request] = hr;
}

std::vector<named_write> genicam_service_script::named_writes() const
{
    std::lock_guard guard(state_->lock_);
    return state_->writes;
}

std::vector<std::string> genicam_service_script::named_requests() const
{
    std::lock_guard guard(state_->lock_);
    return state_->requests;
}

void genicam_service_script::serve_registers(bool serve)
{
    std::lock_guard guard(state_->lock_);
    state_->registers_served = serve;
}

void genicam_service_script::put_register(std::uint64_t address, std::vector<std::uint8_t> bytes)
{
    std::lock_guard guard(state_->lock_);
    std::copy(bytes.begin(), bytes.end(), state_->registers.begin() + static_cast<std::ptrdiff_t>(address));
}

std::vector<std::uint8_t> genicam_service_script::register_bytes(std::uint64_t address, std::size_t count) const
{
    std::lock_guard guard(state_->lock_);
    const auto first = state_->registers.begin() + static_cast<std::ptrdiff_t>(address);
    return {first, first + static_cast<std::ptrdiff_t>(count)};
}

} // namespace test_filter
