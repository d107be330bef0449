#pragma once
// The names under which the node walk of genicam_named_req_proxy keeps
// feature values in the camera's property store, for the handlers that keep
// values of their own in the same store. Registry value names compare without
// regard to case: a handler whose name matches a node's name so keeps its
// value under a name of its own, so that each stored value is read back by the
// one that saved it.

#include "properties/genicam_named_req_proxy.h"

#include <span>
#include <string>
#include <string_view>

namespace drv_genicam {

// Prefixes of the names handlers move to: values of the camera's UVC controls
// and values the service keeps itself. GenICam node names hold no '.', so
// such a name never meets a node's.
inline constexpr std::wstring_view uvc_value_prefix = L"uvc.";
inline constexpr std::wstring_view service_value_prefix = L"service.";

// True when the walk saves (or removes) a value under `name`, compared as the
// registry compares value names: the name of a node of `documents` that the
// service does not implement itself.
bool node_walk_keeps(std::span<const doc_entry> documents, std::wstring_view name);

// The name a handler keeps its value `name` under beside the walk: `prefix`
// followed by `name` where the walk keeps a node's value under `name`, or
// where `store` (may be null) already holds a value under that name (an open
// whose camera description did not load leaves the value where it was);
// otherwise `name` itself.
std::wstring handler_value_name(std::span<const doc_entry> documents, utils::property_store_itf* store,
                                std::wstring_view name, std::wstring_view prefix);

} // namespace drv_genicam
