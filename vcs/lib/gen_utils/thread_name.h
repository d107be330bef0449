#pragma once
#include <string_view>

namespace utils {
// Names the calling thread for debuggers. Does nothing where the system has no
// SetThreadDescription (or off Windows).
void set_thread_description(std::string_view name) noexcept;
} // namespace utils
