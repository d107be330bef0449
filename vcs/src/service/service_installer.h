#pragma once
// Installing, removing and reconfiguring the service with the service control
// manager. Failures are reported to the user in a message box titled with the
// service name.

#include <windows.h>

#include <string>

namespace service {

class service_installer {
public:
    explicit service_installer(std::wstring service_name) : name_(std::move(service_name)) {}

    [[nodiscard]] bool is_installed() const;

    // Own process, demand start, normal error control, the image path in
    // double quotes, dependency "RPCSS". True when it is installed afterwards.
    bool install(const std::wstring& module_path) const;

    // Stops the service (not running or already stopping is fine) and deletes
    // it. True when it is not installed afterwards.
    bool uninstall() const;

    // Switches an installed service to automatic start, all else unchanged.
    // Nothing when it is not installed; a failure is logged.
    void set_auto_start() const;

private:
    void report(const wchar_t* text) const;

    std::wstring name_;
};

} // namespace service
