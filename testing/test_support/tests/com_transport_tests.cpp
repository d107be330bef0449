// What test_support counts as a failure of COM's transport, and what its
// retries print and spend.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>

#include "com_transport.h"

namespace {

using test_support::is_transport_failure;
using test_support::retry_transport;
using test_support::transport_step;

// An interface that no proxy/stub is registered for: this process's COM
// cannot resolve it, as when the registration was lost.
constexpr IID unregistered = {0x3c7e2a51, 0x5d1b, 0x4e0f, {0x9a, 0x6c, 0x21, 0x8b, 0x40, 0x77, 0x19, 0xe2}};

class com_transport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(com_transport, an_object_answer_is_never_transport_without_evidence)
{
    for (const transport_step step :
         {transport_step::activation, transport_step::unmarshal, transport_step::first_call, transport_step::call}) {
        // E_FAIL and E_NOINTERFACE as a product method answers them, with no
        // interface involved or one whose proxy/stub resolves as registered.
        EXPECT_FALSE(is_transport_failure(E_FAIL, step)) << test_support::step_name(step);
        EXPECT_FALSE(is_transport_failure(E_NOINTERFACE, step)) << test_support::step_name(step);
        EXPECT_FALSE(is_transport_failure(E_FAIL, step, &IID_IDispatch)) << test_support::step_name(step);
        EXPECT_FALSE(is_transport_failure(E_ACCESSDENIED, step, &unregistered)) << test_support::step_name(step);
        EXPECT_FALSE(is_transport_failure(RPC_E_SERVERFAULT, step)) << test_support::step_name(step);
        // Answers that say the call never reached the server.
        EXPECT_TRUE(is_transport_failure(test_support::from_win32(RPC_S_SERVER_UNAVAILABLE), step));
        EXPECT_TRUE(is_transport_failure(RPC_E_SERVERCALL_RETRYLATER, step));
    }
    ASSERT_EQ(test_support::proxy_stub_mismatch(IID_IDispatch), "");
}

TEST_F(com_transport, an_rpc_status_is_transport_outside_later_calls_and_a_changed_registration_is_not)
{
    EXPECT_TRUE(is_transport_failure(RPC_E_DISCONNECTED, transport_step::unmarshal));
    EXPECT_TRUE(is_transport_failure(test_support::from_win32(RPC_X_BAD_STUB_DATA), transport_step::first_call));
    EXPECT_FALSE(is_transport_failure(RPC_E_DISCONNECTED, transport_step::call));
    EXPECT_TRUE(is_transport_failure(CO_E_SERVER_EXEC_FAILURE, transport_step::activation));
    EXPECT_FALSE(is_transport_failure(CO_E_SERVER_EXEC_FAILURE, transport_step::first_call));

    EXPECT_NE(test_support::proxy_stub_mismatch(unregistered), "");
    EXPECT_FALSE(is_transport_failure(E_NOINTERFACE, transport_step::first_call, &unregistered));
    EXPECT_FALSE(is_transport_failure(E_FAIL, transport_step::unmarshal, &unregistered));
    EXPECT_FALSE(is_transport_failure(REGDB_E_IIDNOTREG, transport_step::unmarshal, &unregistered));
    EXPECT_FALSE(is_transport_failure(REGDB_E_IIDNOTREG, transport_step::unmarshal, &IID_IDispatch));
    EXPECT_FALSE(is_transport_failure(E_FAIL, transport_step::call, &unregistered));
}

TEST_F(com_transport, a_product_answer_is_returned_at_once_and_does_not_make_a_transport_exit)
{
    int calls = 0;
    testing::internal::CaptureStderr();
    const HRESULT hr = retry_transport("CreateStreamChannel", transport_step::unmarshal, &IID_IDispatch, [&] {
        ++calls;
        return E_FAIL;
    });
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(printed.find("transport retry"), std::string::npos) << printed;
    EXPECT_NE(printed.find("CreateStreamChannel failed: 0x80004005"), std::string::npos) << printed;
    EXPECT_FALSE(test_support::last_failure_was_transport());
    EXPECT_EQ(test_support::exit_code_for(12, 60), 60);
}

// One test process: the retries of every step count against one budget.
TEST_F(com_transport, each_retry_prints_one_counted_line_and_the_budget_ends_them)
{
    const HRESULT lost = test_support::from_win32(RPC_S_CALL_FAILED_DNE);
    int calls = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(retry_transport("GetBaseData", transport_step::first_call, [&] { return ++calls < 3 ? lost : S_OK; }),
              S_OK);
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, 3);
    std::size_t lines = 0;
    for (std::size_t at = printed.find("transport retry"); at != std::string::npos;
         at = printed.find("transport retry", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 2u) << printed;
    EXPECT_NE(printed.find("GetBaseData: transport retry 1 of 3 after 0x800706BF (first call)"), std::string::npos)
        << printed;

    // A step that the transport fails in every attempt: tried
    // transport_attempts times, its last failure classed as transport.
    calls = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(retry_transport("Set", transport_step::first_call, [&] { return ++calls, lost; }), lost);
    printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(calls, test_support::transport_attempts);
    EXPECT_TRUE(test_support::last_failure_was_transport());
    EXPECT_EQ(test_support::exit_code_for(4, 61), 4);

    // 2 + 3 retries taken; the rest of the budget, then no more.
    int retried = 0;
    for (int step = 0; step < test_support::transport_retry_budget; ++step) {
        calls = 0;
        testing::internal::CaptureStderr();
        retry_transport("Get", transport_step::first_call, [&] { return ++calls, lost; });
        printed = testing::internal::GetCapturedStderr();
        retried += calls - 1;
    }
    EXPECT_EQ(retried, test_support::transport_retry_budget - 5);
    EXPECT_NE(printed.find("not tried again: this process already took the 16 retries"), std::string::npos)
        << printed;
    EXPECT_EQ(printed.find("transport retry"), std::string::npos) << printed;
    EXPECT_FALSE(test_support::last_failure_was_transport());
}

} // namespace
