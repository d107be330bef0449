#pragma once
// The named events through which a test unplugs the demonstration service's
// simulated camera and plugs a new one in.

namespace service_sim {

inline constexpr const wchar_t* unplug_event_name = L"Global\\CamTovraSim_Unplug";
inline constexpr const wchar_t* replug_event_name = L"Global\\CamTovraSim_Replug";

} // namespace service_sim
