#include "driver_bench.h"

#include "noxkm_log.h"

namespace noxkm_test {

driver_bench::driver_bench(long long log_setting)
{
    kmdf::registry::clear();
    kmdf::clear_violations();
    kmdf::fail_allocations_after(-1);
    kmdf::fail_device_property_writes(STATUS_SUCCESS);
    kmdf::clear_device_properties();
    noxkm::log_setting = 0;
    if (log_setting >= 0) {
        kmdf::registry::set_dword(settings_key, L"service_log_level", static_cast<DWORD>(log_setting));
    }
    kmdf::set_debug_print_sink([this](ULONG, ULONG, const char* text) {
        std::lock_guard lock(lock_);
        lines_.emplace_back(text);
    });
}

driver_bench::~driver_bench()
{
    // The host (declared after the camera) is torn down before it, after the
    // capture of lines has ended.
    kmdf::set_debug_print_sink(nullptr);
    kmdf::fail_allocations_after(-1);
}

NTSTATUS driver_bench::load()
{
    const NTSTATUS status = host.load();
    loaded_ = NT_SUCCESS(status);
    return status;
}

NTSTATUS driver_bench::start()
{
    if (!loaded_) {
        const NTSTATUS status = load();
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return host.add_device(camera.pdo(), hardware_key, &device);
}

bool driver_bench::logged(std::string_view text) const
{
    std::lock_guard lock(lock_);
    for (const auto& line : lines_) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> driver_bench::lines() const
{
    std::lock_guard lock(lock_);
    return lines_;
}

std::vector<std::string> driver_bench::violations_left()
{
    auto found = kmdf::violations();
    kmdf::clear_violations();
    return found;
}

WDFFILEOBJECT driver_bench::open(std::wstring_view name, NTSTATUS* status)
{
    WDFFILEOBJECT file = nullptr;
    const NTSTATUS result = host.open(device, name, &file);
    if (status != nullptr) {
        *status = result;
    }
    return file;
}

} // namespace noxkm_test
