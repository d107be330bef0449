#pragma once
// The property request model: requests, handlers, reply records, the handler
// table and the per-camera registry.

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"
#include "device_impl/device_impl_tools/propset/ks_prop_request.h"
#include "device_impl/device_impl_tools/propset/property_reply.h"
#include "device_impl/device_impl_tools/propset/property_req_entry.h"
#include "device_impl/device_impl_tools/propset/property_req_entry_itf.h"
#include "device_impl/device_impl_tools/propset/property_req_table.h"
#include "gen_utils/cam_error.h"
