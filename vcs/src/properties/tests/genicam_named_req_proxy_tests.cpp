#include "proxy_test_support.h"

#include "gen_utils/win32_utils.h"
#include "properties/prop_meta_list.h"

#include <bit>
#include <cmath>
#include <limits>

namespace {

using namespace proxy_test;
using GenICam::errc;

constexpr std::uint32_t invalid_arg = 0x80070057;
constexpr std::uint32_t not_impl = 0x80004001;
constexpr std::uint32_t too_small = 0x8007007A;

std::error_code genicam(errc e)
{
    return GenICam::make_error_code(e);
}

using camera = camera_fixture;

TEST_F(camera, documents_give_their_size_then_exactly_their_text)
{
    ASSERT_EQ(proxy.documents().size(), 2u);
    const std::string_view texts[] = {camera_xml, service};
    for (std::uint32_t index = 0; index < 2; ++index) {
        std::uint32_t instance[2] = {1, index};
        std::uint32_t size = 0;
        auto r = request(KsPropDataRequest::get, 1, instance, 8, &size, 4);
        ASSERT_FALSE(registry.get_request(r, 2));
        EXPECT_EQ(r.bytes_returned, 4u);
        ASSERT_EQ(size, texts[index].size());

        std::vector<char> text(size + 1, '#');
        auto short_read = request(KsPropDataRequest::get, 2, instance, 8, text.data(), size - 1);
        short_read.bytes_returned = 77;
        EXPECT_EQ(hr(registry.get_request(short_read, 2)), too_small);
        EXPECT_EQ(short_read.bytes_returned, 77u) << "a short text read reports nothing";
        auto read = request(KsPropDataRequest::get, 2, instance, 8, text.data(), size);
        ASSERT_FALSE(registry.get_request(read, 2));
        EXPECT_EQ(read.bytes_returned, size);
        EXPECT_EQ(std::string_view(text.data(), size), texts[index]);
        EXPECT_EQ(text[size], '#');

        auto set = request(KsPropDataRequest::set, 1, instance, 8, &size, 4);
        EXPECT_EQ(hr(registry.set_request(set, 2)), not_impl);
    }
}

TEST_F(camera, document_selector_and_index_are_checked)
{
    struct row {
        std::uint32_t selector, index, instance_size;
    };
    for (const row r : {row{0, 0, 8}, row{1, 2, 8}, row{1, 0xFFFFFFFF, 8}, row{1, 0, 4}, row{1, 0, 3}}) {
        std::uint32_t instance[2] = {r.selector, r.index};
        std::uint32_t size = 0;
        for (const std::uint32_t id : {1u, 2u}) {
            auto q = request(KsPropDataRequest::get, id, instance, r.instance_size, &size, 4);
            EXPECT_EQ(hr(registry.get_request(q, 2)), invalid_arg) << r.selector << " " << r.index << " id " << id;
        }
    }
    std::uint32_t instance[2] = {1, 0};
    std::uint32_t size = 0;
    auto flagged = request(KsPropDataRequest::get, 1, instance, 8, &size, 4);
    flagged.query_flags = KsPropDataRequest::query_range;
    EXPECT_EQ(hr(registry.get_request(flagged, 2)), not_impl);
    auto other_id = request(KsPropDataRequest::get, 3, instance, 8, &size, 4);
    EXPECT_EQ(hr(proxy.get_request(other_id)), not_impl);
}

TEST_F(camera, compatibility_switch_is_on_after_load)
{
    EXPECT_EQ(device_word(0x130), 1u);
    EXPECT_EQ(get_int("KyvDriverCompatibilityMode/Value"), 1);
}

TEST_F(camera, named_gets_answer_by_node_kind)
{
    device.put(0x100, {0x40, 0x01, 0, 0});
    const double gamma = 2.25;
    std::memcpy(device.memory.data() + 0x108, &gamma, 8);
    device.put(0x110, {1, 0, 0, 0});
    device.put(0x118, {1, 0, 0, 0});
    device.put(0x120, {0, 0, 0, 0});
    struct row {
        const char* request;
        std::int64_t answer;
    };
    const row rows[] = {
        {"Width/Value", 0x140},
        {"Width/Min", 16},
        {"Width/Max", 4096},
        {"Width/Inc", 16},
        {"Gamma/Value", std::bit_cast<std::int64_t>(2.25)},
        {"Gamma/Max", std::bit_cast<std::int64_t>(4.0)},
        {"ReverseX/Value", 1},
        {"TriggerSoftware/IsDone", 1},
        {"TriggerMode/Index", 1},
        {"TriggerMode/On/IsAvailable", 1},
        {"TriggerMode/Off/IsImplemented", 1},
        {"TriggerMode/On/IsLocked/ignored", 0},
        {"LUTValueAll/Length", 16},
        {"LUTValueAll/Address", 0x300},
        {"Hidden/IsImplemented", 0},
        {"Gain/IsLocked", 1},
        {"Width/IsLocked", 0},
        {"Root/IsAvailable", 1},
    };
    for (const row& r : rows) {
        EXPECT_EQ(get_int(r.request), r.answer) << r.request;
    }
}

TEST_F(camera, selected_entry_needs_a_byte_more_than_the_name_and_gets_no_terminator)
{
    device.put(0x110, {0, 0, 0, 0});
    // Through the surface a value buffer holds at least 4 bytes: the 3-byte
    // case is the operation's own.
    unsigned char exact[3] = {0xCC, 0xCC, 0xCC};
    std::uint32_t returned = 55;
    EXPECT_EQ(hr(proxy.exec_named_get_request("TriggerMode/SelectedEntry", exact, 3, returned)), too_small);
    EXPECT_EQ(returned, 55u);
    EXPECT_EQ(exact[0], 0xCC);
    std::vector<unsigned char> value(4, 0xCC);
    ASSERT_FALSE(named_get("TriggerMode/SelectedEntry", value, returned));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(std::string(value.begin(), value.begin() + 3), "Off");
    EXPECT_EQ(value[3], 0xCC);
}

TEST_F(camera, register_values_read_as_many_bytes_as_fit)
{
    for (std::uint8_t i = 0; i < 16; ++i) {
        device.memory[0x300 + i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    std::vector<unsigned char> part(8);
    std::uint32_t returned = 0;
    ASSERT_FALSE(named_get("LUTValueAll/Value", part, returned));
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(part, device.get(0x300, 8));
    std::vector<unsigned char> whole(32, 0);
    ASSERT_FALSE(named_get("LUTValueAll/Value", whole, returned));
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(std::vector<unsigned char>(whole.begin(), whole.begin() + 16), device.get(0x300, 16));
    // Directly, without a buffer: the register's length is the size needed.
    returned = 0;
    EXPECT_EQ(hr(proxy.exec_named_get_request("LUTValueAll/Value", nullptr, 0, returned)), too_small);
    EXPECT_EQ(returned, 16u);
}

TEST_F(camera, named_gets_refuse_what_they_cannot_answer)
{
    struct row {
        const char* request;
        std::uint32_t value_size;
        std::uint32_t result;
        std::uint32_t returned; // 0: nothing reported
    };
    const row rows[] = {
        {"Width/Value", 4, too_small, 8},
        {"Width/IsLocked", 7, too_small, 8},
        {"Width/Unit", 8, invalid_arg, 0},
        {"X", 8, invalid_arg, 0},
        {"/Value", 8, invalid_arg, 0},
        {"Nowhere/Value", 8, invalid_arg, 0},
        {"DeviceModelName/Value", 8, invalid_arg, 0},
        {"Root/Value", 8, invalid_arg, 0},
        {"Device/Value", 8, invalid_arg, 0},
        {"TriggerMode/Nope/IsAvailable", 8, invalid_arg, 0},
        {"TriggerMode/On/Value", 8, not_impl, 0},
        {"TriggerMode/On", 8, not_impl, 0},
        {"TriggerSoftware/Value", 8, invalid_arg, 0},
        {"ReverseX/Min", 8, invalid_arg, 0},
        {"LUTValueAll/Min", 8, invalid_arg, 0},
    };
    for (const row& r : rows) {
        std::vector<unsigned char> value(r.value_size);
        std::uint32_t returned = 0;
        EXPECT_EQ(hr(named_get(r.request, value, returned)), r.result) << r.request;
        EXPECT_EQ(returned, r.returned) << r.request;
    }
}

TEST_F(camera, named_sets_reach_the_device_or_are_refused_with_the_node_maps_code)
{
    EXPECT_FALSE(named_set_int("Width/Value", 64));
    EXPECT_EQ(device_word(0x100), 64u);
    EXPECT_EQ(named_set_int("Width/Value", 5), genicam(errc::value_out_of_range));
    EXPECT_EQ(device_word(0x100), 64u);
    EXPECT_FALSE(named_set_int("Gamma/Value", std::bit_cast<std::int64_t>(1.5)));
    EXPECT_EQ(device.get(0x108, 8), device.get(0x108, 8));
    double gamma = 0;
    std::memcpy(&gamma, device.memory.data() + 0x108, 8);
    EXPECT_EQ(gamma, 1.5);
    EXPECT_EQ(named_set_int("Gamma/Value", std::bit_cast<std::int64_t>(std::numeric_limits<double>::quiet_NaN())),
              genicam(errc::value_out_of_range));
    std::memcpy(&gamma, device.memory.data() + 0x108, 8);
    EXPECT_EQ(gamma, 1.5);
    EXPECT_FALSE(named_set_int("ReverseX/Value", 0x100000000));
    EXPECT_EQ(device_word(0x118), 1u);

    EXPECT_FALSE(named_set("TriggerMode/SelectedEntry", "On\0\0", 4));
    EXPECT_EQ(device_word(0x110), 1u);
    EXPECT_FALSE(named_set("TriggerMode/SelectedEntry", "Off\0junk", 8));
    EXPECT_EQ(device_word(0x110), 0u);
    EXPECT_EQ(named_set("TriggerMode/SelectedEntry", "Nope", 4), genicam(errc::index_out_of_range));
    const std::string long_name(1001, 'O');
    EXPECT_EQ(hr(named_set("TriggerMode/SelectedEntry", long_name.data(), 1001)), too_small);
    EXPECT_FALSE(named_set_int("TriggerMode/Index", 1));
    EXPECT_EQ(device_word(0x110), 1u);
    EXPECT_EQ(hr(named_set_int("TriggerMode/Index", -1)), invalid_arg);
    EXPECT_EQ(hr(named_set_int("TriggerMode/Index", 2)), invalid_arg);
    EXPECT_EQ(device_word(0x110), 1u);

    EXPECT_FALSE(named_set_int("TriggerSoftware/Execute", 0));
    EXPECT_EQ(device_word(0x120), 1u);
    EXPECT_EQ(hr(named_set_int("TriggerSoftware/Value", 1)), not_impl);

    const std::vector<unsigned char> table(16, 0x5A);
    EXPECT_FALSE(named_set("LUTValueAll/Value", table.data(), 16));
    EXPECT_EQ(device.get(0x300, 16), table);
    const int writes = device.writes;
    const std::vector<unsigned char> longer(17, 0x11);
    EXPECT_EQ(named_set("LUTValueAll/Value", longer.data(), 17), genicam(errc::invalid_parameter));
    EXPECT_EQ(device.writes, writes);
    EXPECT_EQ(device.get(0x300, 16), table);

    EXPECT_EQ(hr(named_set("Width/Value", "\x01\0\0\0\0\0\0", 7)), too_small);
    EXPECT_EQ(hr(named_set_int("Width/Min", 1)), not_impl);
    EXPECT_EQ(hr(named_set_int("DeviceModelName/Value", 1)), not_impl);
    EXPECT_EQ(hr(named_set_int("Root/Value", 1)), not_impl);
    EXPECT_EQ(hr(named_set_int("Nowhere/Value", 1)), invalid_arg);
}

TEST_F(camera, named_request_layouts_outside_the_bounds_are_refused)
{
    log_lines log;
    std::int64_t value = 64;
    auto try_both = [&](std::vector<char> instance, std::uint32_t get_result, std::uint32_t set_result) {
        value = 64;
        auto get = request(KsPropDataRequest::get, 4, instance.data(), static_cast<std::uint32_t>(instance.size()),
                           &value, 8);
        EXPECT_EQ(hr(registry.get_request(get, 2)), get_result) << instance.size();
        value = 64;
        auto set = request(KsPropDataRequest::set, 4, instance.data(), static_cast<std::uint32_t>(instance.size()),
                           &value, 8);
        EXPECT_EQ(hr(registry.set_request(set, 2)), set_result) << instance.size();
    };
    try_both(std::vector<char>(3, 'W'), invalid_arg, not_impl);
    std::vector<char> nine = named_instance("W");
    ASSERT_EQ(nine.size(), 10u);
    nine.pop_back();
    try_both(nine, invalid_arg, invalid_arg);
    std::string long_text = "Width/Value";
    long_text.resize(1001 - 9, '/');
    try_both(named_instance(long_text), invalid_arg, invalid_arg);
    try_both(named_instance(""), invalid_arg, invalid_arg);
    try_both(named_instance(std::string(5, '\0')), invalid_arg, invalid_arg);
    EXPECT_TRUE(log.has(
        "[CamTovra] drv_genicam::genicam_named_req_proxy::named_get_request, invalid request layout."));
    EXPECT_TRUE(log.has("drv_genicam::genicam_named_req_proxy::set_request, invalid request layout."));

    // The instance's last byte is never read: an unterminated text loses it.
    std::vector<char> unterminated = named_instance("Width/Valuee");
    unterminated.pop_back();
    try_both(unterminated, 0, 0);
    EXPECT_EQ(device_word(0x100), 64u);
    unterminated.back() = 'X';
    try_both(unterminated, 0, 0);
    // A 1000-byte instance is the largest served.
    std::string padded = "Width/Value";
    padded.resize(1000 - 9, '\0');
    try_both(named_instance(padded), 0, 0);

    // Value buffers below 4 bytes, or missing, fail the preconditions.
    auto instance = named_instance("Width/Value");
    for (const auto& [buffer, size] : {std::pair<void*, std::uint32_t>{&value, 0}, {&value, 3}, {nullptr, 8}}) {
        auto get = request(KsPropDataRequest::get, 4, instance.data(), static_cast<std::uint32_t>(instance.size()),
                           buffer, size);
        EXPECT_EQ(hr(registry.get_request(get, 2)), invalid_arg) << size;
        auto set = request(KsPropDataRequest::set, 4, instance.data(), static_cast<std::uint32_t>(instance.size()),
                           buffer, size);
        EXPECT_EQ(hr(registry.set_request(set, 2)), not_impl) << size;
    }
    auto no_instance = request(KsPropDataRequest::get, 4, nullptr, 20, &value, 8);
    EXPECT_EQ(hr(registry.get_request(no_instance, 2)), invalid_arg);
}

TEST_F(camera, named_requests_are_logged_after_the_operation)
{
    log_lines log;
    device.put(0x100, {0x20, 0, 0, 0});
    std::vector<unsigned char> value(8);
    std::uint32_t returned = 0;
    ASSERT_FALSE(named_get("Width/Value", value, returned));
    EXPECT_TRUE(log.has("[CamTovra] == Get (named) request: req_string=Width/Value, value=0x20, out_len=8, status=0.\n"))
        << log.text();
    std::vector<unsigned char> wide(12);
    ASSERT_FALSE(named_get("LUTValueAll/Value", wide, returned));
    EXPECT_TRUE(log.has("[CamTovra] >> Get (named) request: req_string=LUTValueAll/Value, out_len=12, status=0.\n"));
    EXPECT_TRUE(log.has("<<\n"));
    ASSERT_FALSE(named_set_int("Width/Value", 0x30));
    EXPECT_TRUE(log.has("[CamTovra] == Set (named) request: req_string=Width/Value, value=0x30, out_len=8, status=0.\n"));
    EXPECT_EQ(hr(named_get("Nowhere/Value", value, returned)), invalid_arg);
    EXPECT_TRUE(log.has("[CamTovra] drv_genicam::genicam_named_req_proxy::exec_named_get_request, did not find "
                        "property node for request_target=Nowhere.\n"));
    EXPECT_EQ(hr(named_set_int("X", 1)), invalid_arg);
    EXPECT_TRUE(log.has("[CamTovra] User request did not contain a request_target.\n"));
}

TEST_F(camera, service_boolean_reaches_its_register_handler_by_name_and_by_address)
{
    handler.value = 1;
    EXPECT_EQ(get_int("ToneMappingEnable/Value"), 1);
    EXPECT_GE(handler.gets, 1);
    EXPECT_TRUE(cam::same_guid(handler.last_set, cam::PROPSETID_EMULATED_REGISTER));
    EXPECT_EQ(handler.last_id, 0x00040008u);
    EXPECT_FALSE(named_set_int("ToneMappingEnable/Value", 0));
    EXPECT_EQ(handler.sets, 1);
    EXPECT_EQ(handler.value, 0u);

    // Id 24: the camera's device knows nothing at that address, the next
    // document's port (the proxy) hands it to the handler.
    handler.value = 0x12345678;
    std::uint64_t address = 0xBCEA541200040008;
    std::uint32_t word = 0;
    auto read = request(KsPropDataRequest::get, 24, &address, 8, &word, 4);
    ASSERT_FALSE(registry.get_request(read, 2));
    EXPECT_EQ(word, 0x12345678u);
    EXPECT_EQ(read.bytes_returned, 4u);
    word = 7;
    auto write = request(KsPropDataRequest::set, 24, &address, 8, &word, 4);
    ASSERT_FALSE(registry.set_request(write, 2));
    EXPECT_EQ(handler.value, 7u);
    write.query_flags = 1;
    EXPECT_EQ(hr(registry.set_request(write, 2)), not_impl);
}

// A driver variable answered as the service's 32-bit properties answer: four
// bytes into any buffer that holds them.
class int_reply_handler final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override
    {
        return cam::write_int_reply(request, 0x0BADCAFE);
    }
    std::error_code set_request(KsPropDataRequest&) override { return {}; }
};

TEST_F(camera, a_register_read_reports_the_bytes_its_handler_wrote)
{
    static int_reply_handler word_handler; // outlives the registry, which keeps a pointer
    ASSERT_FALSE(registry.register_handler({cam::PROPSETID_EMULATED_REGISTER, 0x00040100}, &word_handler, 0));
    std::uint64_t address = 0xBCEA541200040100;
    std::uint64_t wide = 0xFFFFFFFFFFFFFFFF;
    auto read = request(KsPropDataRequest::get, 24, &address, 8, &wide, 8);
    ASSERT_FALSE(registry.get_request(read, 2));
    EXPECT_EQ(read.bytes_returned, 4u) << "four bytes written into the eight offered";
    EXPECT_EQ(wide, 0xFFFFFFFF0BADCAFEull) << "the rest of the buffer is untouched";

    // A camera register is read whole.
    device.put(0x200, {1, 2, 3, 4, 5, 6, 7, 8});
    address = 0x200;
    auto camera_read = request(KsPropDataRequest::get, 24, &address, 8, &wide, 8);
    ASSERT_FALSE(registry.get_request(camera_read, 2));
    EXPECT_EQ(camera_read.bytes_returned, 8u);
}

// A client's raw register access above 1 MiB would hold the camera for as
// many exchanges: it is refused before any port sees it.
TEST_F(camera, register_access_above_one_mib_is_refused_before_any_port_is_asked)
{
    constexpr std::uint32_t limit = 1024 * 1024;
    std::uint64_t address = 0x200;
    std::vector<unsigned char> value(limit + 1);
    log_lines log;
    const int before = device.calls(); // the load set the compatibility switch
    for (const std::uint32_t type : {KsPropDataRequest::get, KsPropDataRequest::set}) {
        auto huge = request(type, 24, &address, 8, value.data(), limit + 1);
        const std::error_code result =
            type == KsPropDataRequest::get ? registry.get_request(huge, 2) : registry.set_request(huge, 2);
        EXPECT_EQ(hr(result), invalid_arg) << type;
        EXPECT_EQ(huge.bytes_returned, 0u);
    }
    EXPECT_EQ(device.calls(), before);
    EXPECT_EQ(handler.gets + handler.sets, 0);
    EXPECT_TRUE(log.has("[CamTovra] drv_genicam::genicam_named_req_proxy::register_access, refused a raw access of "
                        "1048577 bytes at 0x200 (the limit is 1048576).\n"))
        << log.text();
    // 1 MiB itself reaches the ports (this device holds 8 KiB: it refuses).
    auto largest = request(KsPropDataRequest::get, 24, &address, 8, value.data(), limit);
    registry.get_request(largest, 2);
    EXPECT_EQ(device.calls(), before + 1);
}

TEST_F(camera, register_access_goes_through_the_documents_in_order)
{
    device.put(0x200, {'C', 'a', 'm', 0});
    std::uint64_t address = 0x200;
    std::uint32_t word = 0;
    auto read = request(KsPropDataRequest::get, 24, &address, 8, &word, 4);
    ASSERT_FALSE(registry.get_request(read, 2));
    EXPECT_EQ(std::memcmp(&word, "Cam", 4), 0);
    word = 0xAABBCCDD;
    auto write = request(KsPropDataRequest::set, 24, &address, 8, &word, 4);
    ASSERT_FALSE(registry.set_request(write, 2));
    EXPECT_EQ(device_word(0x200), 0xAABBCCDDu);

    log_lines log;
    address = 0x0000000100000000;
    auto nowhere = request(KsPropDataRequest::get, 24, &address, 8, &word, 4);
    EXPECT_EQ(registry.get_request(nowhere, 2), genicam(errc::invalid_address));
    EXPECT_TRUE(log.has("[CamTovra] request_address_to_identifier, invalid address (0x100000000 passed to driver "
                        "property.\n"));
    auto short_instance = request(KsPropDataRequest::get, 24, &address, 4, &word, 4);
    EXPECT_EQ(hr(registry.get_request(short_instance, 2)), invalid_arg);
    auto short_set = request(KsPropDataRequest::set, 24, &address, 4, &word, 4);
    EXPECT_EQ(hr(registry.set_request(short_set, 2)), invalid_arg);

    // An error other than "invalid address" ends the walk.
    device.fail_reads = true;
    address = 0x200;
    auto lost = request(KsPropDataRequest::get, 24, &address, 8, &word, 4);
    EXPECT_EQ(hr(registry.get_request(lost, 2)), 0x80070651u);
}

TEST(genicam_named_req_proxy, register_port_maps_only_the_driver_property_ranges)
{
    struct row {
        std::uint64_t address;
        bool mapped;
        std::uint32_t id;
    };
    for (const row r : {row{0xBCEA541200040008, true, 0x00040008}, row{0xCEBB0001FFFFFFFF, true, 0xFFFFFFFF},
                        row{0xCEBB000200000000, false, 0}, row{0x0000000100000000, false, 0},
                        row{0xBCEA541300000010, false, 0}}) {
        const auto id = drv_genicam::genicam_named_req_proxy::request_address_to_identifier(r.address);
        ASSERT_EQ(id.has_value(), r.mapped) << std::hex << r.address;
        if (id) {
            EXPECT_TRUE(cam::same_guid(id->first, cam::PROPSETID_EMULATED_REGISTER));
            EXPECT_EQ(id->second, r.id);
        }
    }
    gen_property::gen_property_reqistry registry;
    drv_genicam::genicam_named_req_proxy proxy(registry);
    std::uint32_t word = 0;
    EXPECT_EQ(hr(proxy.read(0xBCEA541200040010, &word, 4, 0)), not_impl) << "no handler";
    EXPECT_EQ(proxy.write(0x10, &word, 4, 0), genicam(errc::invalid_address));
}

TEST(genicam_named_req_proxy, documents_that_do_not_load_are_not_added)
{
    gen_property::gen_property_reqistry registry;
    drv_genicam::genicam_named_req_proxy proxy(registry);
    genicam_test::memory_device_port device;
    log_lines log;
    const std::string broken = "<RegisterDescription><Integer Name=\"A\"></RegisterDescription>";
    EXPECT_EQ(hr(proxy.init_and_register(broken.data(), broken.size(), &device)), invalid_arg);
    EXPECT_TRUE(log.has("[CamTovra] Creating doc for doc with len=" + std::to_string(broken.size()) + ".\n"));
    EXPECT_TRUE(log.has("[CamTovra] Failed to parse and build GenICam document.\n"));
    EXPECT_TRUE(proxy.documents().empty());
    proxy.register_handlers();
    EXPECT_TRUE(log.has("[CamTovra] drv_genicam::genicam_named_req_proxy::init_and_register, has 0 docs.\n"));
    EXPECT_FALSE(registry.is_supported({cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 4}));

    // Without a "Device" port the document is added all the same.
    const std::string portless = R"(<RegisterDescription><Integer Name="A"><Value>3</Value></Integer>
        <Integer Name="KyvDriverCompatibilityMode"><Value>0</Value></Integer></RegisterDescription>)";
    EXPECT_FALSE(proxy.init_and_register(portless.data(), portless.size(), &device));
    EXPECT_TRUE(log.has("[CamTovra] Failed to find Device port.\n"));
    EXPECT_TRUE(log.has("[CamTovra] Enabled KyvDriverCompatibilityMode mode.\n"));
    ASSERT_EQ(proxy.documents().size(), 1u);
    EXPECT_EQ(proxy.documents()[0].port, &device);
    std::uint32_t returned = 0;
    std::int64_t value = 0;
    EXPECT_FALSE(proxy.exec_named_get_request("KyvDriverCompatibilityMode/Value", &value, 8, returned));
    EXPECT_EQ(value, 1);
    proxy.register_handlers();
    EXPECT_TRUE(log.has("[CamTovra] drv_genicam::genicam_named_req_proxy::init_and_register, has 1 docs.\n"));
    for (const std::uint32_t id : {1u, 2u, 4u, 24u}) {
        EXPECT_TRUE(registry.is_supported({cam::PROPSETID_GENERIC_DRIVER_INTERFACE, id})) << id;
    }
    EXPECT_FALSE(registry.is_supported({cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 3}));
}

TEST(genicam_named_req_proxy, a_lost_device_reaches_the_client_as_device_removed)
{
    gen_property::gen_property_reqistry registry;
    drv_genicam::genicam_named_req_proxy proxy(registry);
    genicam_test::memory_device_port device;
    ASSERT_FALSE(proxy.init_and_register(camera_xml.data(), camera_xml.size(), &device));
    device.fail_reads = true;
    device.fail_writes = true;
    std::int64_t value = 0;
    std::uint32_t returned = 0;
    EXPECT_EQ(hr(proxy.exec_named_get_request("Width/Value", &value, 8, returned)), 0x80070651u);
    value = 32;
    EXPECT_EQ(hr(proxy.exec_named_set_request("Width/Value", &value, 8)), 0x80070651u);
}

TEST(prop_meta_list, guid_text_matches_the_system_form)
{
    const GUID guids[] = {cam::PROPSETID_EMULATED_REGISTER, cam::PROPSETID_GENERIC_DRIVER_INTERFACE, GUID{},
                          GUID{0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}};
    for (const GUID& guid : guids) {
        EXPECT_EQ(prop_meta_list::guid_to_string(guid), win32::guid_to_string(guid));
    }
}

} // namespace
