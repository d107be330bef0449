#pragma once
// The service's discover service and active device list over one test camera
// whose requests go to a handler registry the test fills, and the client
// process camera_property_client started against it: every request of its
// fixed list, with the HRESULT, the bytes returned and the value buffer the
// client saw.

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "service_host.h"

namespace property_client_test {

struct answer {
    std::uint32_t hr = 0;
    std::uint32_t returned = 0;
    std::string bytes; // hexadecimal
};

inline std::map<std::string, answer> read_answers(const std::string& path)
{
    std::map<std::string, answer> answers;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, hr;
        answer a;
        fields >> name >> hr >> a.returned >> a.bytes;
        a.hr = static_cast<std::uint32_t>(std::stoul(hr, nullptr, 16));
        answers[name] = a;
    }
    return answers;
}

template <class T>
void put(std::vector<unsigned char>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

inline std::string hex(const std::vector<unsigned char>& bytes)
{
    std::string text;
    const char digits[] = "0123456789ABCDEF";
    for (const unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

// The 48-byte range-and-value record, as hexadecimal.
inline std::string record48(std::int32_t value, std::uint32_t flags, std::uint32_t caps, std::int32_t min,
                            std::int32_t max, std::int32_t def)
{
    std::vector<unsigned char> bytes(48, 0);
    put(bytes, 24, value);
    put(bytes, 28, flags);
    put(bytes, 32, caps);
    put(bytes, 36, min);
    put(bytes, 40, max);
    put(bytes, 44, def);
    return hex(bytes);
}

// The 56-byte float record, as hexadecimal.
inline std::string record56(float value, float min, float max, float def)
{
    std::vector<unsigned char> bytes(56, 0);
    put(bytes, 24, value);
    put(bytes, 28, min);
    put(bytes, 32, max);
    put(bytes, 36, def);
    put(bytes, 40, 2u);
    put(bytes, 44, 2u);
    put(bytes, 48, 1u);
    return hex(bytes);
}

// The client program; exit 12 (unmarshalling the service) and 4 (the first
// query on its device) name its first cross-process steps.
inline const test_support::client_program property_client{CAMERA_PROPERTY_CLIENT_EXE, {12, 4}};

class property_client_fixture : public ::testing::Test {
protected:
    test_support::service_host host;
    std::shared_ptr<fake_devices::fake_device_factory> factory = fake_devices::fake_device_factory::make();
    std::shared_ptr<fake_devices::request_registry> requests = std::make_shared<fake_devices::request_registry>();

    // The service with one camera, "cam_0", whose requests go to `requests`;
    // run under ASSERT_NO_FATAL_FAILURE once the handlers are bound.
    void start_service()
    {
        fake_devices::fake_camera camera{L"cam_0", L"Camera 0"};
        camera.requests = requests;
        factory->set_cameras({camera});
        ASSERT_NO_FATAL_FAILURE(host.start({factory}, PROXY_STUB_DLL));
    }

    void TearDown() override
    {
        host.stop();
        // The registry may outlive this test in a camera COM still holds: it
        // must not keep pointing at this test's handlers.
        std::lock_guard lock(requests->request_mutex());
        std::vector<cam::property_req_key> keys;
        requests->table().for_each_position(
            [&](const cam::property_req_key& key, unsigned, cam::property_req_entry_itf&) { keys.push_back(key); });
        for (const cam::property_req_key& key : keys) {
            for (unsigned level = 0; level < cam::level_count; ++level) {
                requests->register_handler(key, nullptr, level);
            }
        }
    }

    // Runs the client into a file of its own and returns what it wrote; empty
    // (with a failure recorded) when it did not run to its end.
    std::map<std::string, answer> client_answers()
    {
        const std::string out = std::string(OUTPUT_DIR) + "/camera_property_" +
                                utils::to_utf8(win32::make_unique_global_name(L"").substr(7)) + ".txt";
        const DWORD exit_code =
            host.run_client(property_client, L"\"" + test_support::windows_path(out.c_str()) + L"\"");
        EXPECT_EQ(exit_code, 0u);
        auto answers = exit_code == 0 ? read_answers(out) : std::map<std::string, answer>{};
        std::remove(out.c_str());
        return answers;
    }
};

} // namespace property_client_test
