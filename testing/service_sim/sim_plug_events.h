#pragma once
// The named events through which a test drives the demonstration service:
// unplugging its simulated camera and plugging a new one in, and holding its
// start-up or its stop at a known point.

namespace service_sim {

inline constexpr const wchar_t* unplug_event_name = L"Global\\CamTovraSim_Unplug";
inline constexpr const wchar_t* replug_event_name = L"Global\\CamTovraSim_Replug";

// Holds, each a manual-reset event that a test creates unset before it starts
// or stops the service, and sets to let it go on. While one exists, the
// service waits on it (at most a minute): the start-up hold before the
// service's components are made (before the camera factory is), the stop hold
// as the components' stop begins (as the camera factory stops its
// notifications). On reaching a hold the service sets `held_event_name` (an
// auto-reset event, when the test has made it). Where no hold exists, nothing
// waits.
inline constexpr const wchar_t* start_up_hold_event_name = L"Global\\CamTovraSim_HoldStartUp";
inline constexpr const wchar_t* stop_hold_event_name = L"Global\\CamTovraSim_HoldStop";
inline constexpr const wchar_t* held_event_name = L"Global\\CamTovraSim_Held";

} // namespace service_sim
