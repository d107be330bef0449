#pragma once
// Exit codes of device_client, one per failure, and their meaning for the
// test that reads them.

namespace fake_devices {

enum device_client_exit : int {
    client_done = 0,
    client_com_not_initialised = 1,
    client_list_failed = 2,
    client_create_device_failed = 3,
    client_device_query_failed = 4,
    client_set_failed = 5,
    client_get_failed = 6,
    client_channel_failed = 7,
    client_base_data_failed = 8,
    client_ready_event_failed = 9,
    client_device_info_failed = 10,
    client_property_round_trip_failed = 11,
    client_unmarshal_failed = 12,
    client_too_few_cameras = 13,
    client_wrong_first_camera = 14,
    client_bad_arguments = 15,
    client_standard_get_failed = 16,
    client_standard_set_failed = 17,
    client_null_buffer_accepted = 18,
    client_support_wrong = 19,
    // The first step failed with an answer that is not COM's transport's: the
    // host does not start the client again.
    client_unmarshal_refused = 20,
    client_device_query_refused = 21,
};

inline const char* describe_device_client_exit(unsigned long code)
{
    static constexpr const char* texts[] = {
        "done",
        "CoInitializeEx failed",
        "GetDiscoveredDeviceList failed",
        "CreateDevice failed",
        "QueryInterface(ICamTovraDevice) failed",
        "Set of a property failed",
        "Get of a property failed or gave other bytes",
        "CreateStreamChannel failed",
        "GetBaseData failed or gave other data",
        "the ready event could not be opened",
        "GetDeviceInstanceInfo failed",
        "WriteProperty/ReadProperty did not round-trip",
        "the discover service could not be unmarshalled",
        "fewer than 2 cameras listed",
        "the first camera is not cam_0",
        "bad arguments",
        "Get of a standard record failed or gave another record",
        "Set of a standard record failed",
        "Get without a value buffer was not refused with E_POINTER",
        "QuerySupported gave another answer",
        "unmarshalling the discover service failed, not in COM's transport",
        "QueryInterface(ICamTovraDevice) failed, not in COM's transport",
    };
    return code < sizeof(texts) / sizeof(texts[0]) ? texts[code] : "not an exit code of device_client";
}

} // namespace fake_devices
