#include "gen_utils/cam_error.h"

#include <gtest/gtest.h>

#include <ios>
#include <string>
#include <system_error>

#include "genicam/genicam_error.h"

namespace {

TEST(cam_error_category, names_itself_and_uses_system_messages)
{
    EXPECT_STREQ(cam_error_category().name(), "Cam error category");
    EXPECT_EQ(make_cam_error(0).message(), "Success");

    const std::string denied = make_cam_error(E_ACCESSDENIED).message();
    EXPECT_FALSE(denied.empty());
    EXPECT_EQ(denied.find('\0'), std::string::npos);
    EXPECT_NE(denied.find("ccess"), std::string::npos) << denied; // "Access denied" in the system's words

    EXPECT_EQ(make_cam_error(static_cast<HRESULT>(0x8FFF1234)).message(), "");
}

TEST(to_hresult, maps_genicam_codes_by_table)
{
    const struct {
        std::uint32_t genicam;
        HRESULT expected;
    } cases[] = {
        {0, S_OK},
        {0x80000002, static_cast<HRESULT>(0x8007007A)},
        {0x80000003, static_cast<HRESULT>(0x80070651)},
        {0x80000103, E_FAIL},
        {0x80000105, E_ACCESSDENIED},
        {0x80000106, E_ACCESSDENIED},
        {0x80008006, E_ACCESSDENIED},
        {0x80008001, E_NOTIMPL},
        {0x80000004, E_INVALIDARG},
        {0x80000102, E_INVALIDARG},
        {0x80008003, E_INVALIDARG},
        {0x12345678, E_INVALIDARG},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cam::to_hresult(GenICam::make_genicam_error(c.genicam)), c.expected) << std::hex << c.genicam;
    }
}

// Whatever the category, a failure stays a failure: the HRESULT is negative.
TEST(to_hresult, keeps_hresults_and_turns_every_other_failure_into_a_failure_hresult)
{
    struct io_category final : std::error_category {
        const char* name() const noexcept override { return "test io"; }
        std::string message(int) const override { return {}; }
    };
    static const io_category foreign;
    const struct {
        std::error_code error;
        HRESULT expected;
    } cases[] = {
        // cam_error_cat: HRESULTs pass unchanged, Win32 error numbers become failures.
        {make_cam_error(S_OK), S_OK},
        {make_cam_error(S_FALSE), S_FALSE},
        {make_cam_error(static_cast<HRESULT>(0x00040001)), static_cast<HRESULT>(0x00040001)},
        {make_cam_error(static_cast<HRESULT>(0x80070651)), static_cast<HRESULT>(0x80070651)},
        {make_cam_error(5), static_cast<HRESULT>(0x80070005)},
        {make_cam_error(ERROR_GEN_FAILURE), static_cast<HRESULT>(0x8007001F)},
        // system category: Win32 errors become HRESULT_FROM_WIN32, HRESULTs stay.
        {std::error_code(0, std::system_category()), S_OK},
        {std::error_code(5, std::system_category()), static_cast<HRESULT>(0x80070005)},
        {std::error_code(ERROR_TOO_MANY_OPEN_FILES, std::system_category()), static_cast<HRESULT>(0x80070004)},
        {std::error_code(static_cast<int>(0x8007001F), std::system_category()), static_cast<HRESULT>(0x8007001F)},
        // other categories: the matching HRESULT, else E_FAIL.
        {std::make_error_code(std::errc::invalid_argument), E_INVALIDARG},
        {std::make_error_code(std::errc::not_enough_memory), E_OUTOFMEMORY},
        {std::make_error_code(std::errc::permission_denied), E_ACCESSDENIED},
        {std::make_error_code(std::errc::operation_not_permitted), E_ACCESSDENIED},
        {std::make_error_code(std::errc::not_supported), E_NOTIMPL},
        {std::make_error_code(std::errc::function_not_supported), E_NOTIMPL},
        {std::make_error_code(std::errc::bad_address), E_POINTER},
        {std::make_error_code(std::errc::operation_canceled), HRESULT_FROM_WIN32(ERROR_CANCELLED)},
        {std::make_error_code(std::errc::timed_out), HRESULT_FROM_WIN32(ERROR_TIMEOUT)},
        {std::make_error_code(std::errc::no_such_device), HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)},
        {std::make_error_code(std::errc::too_many_files_open), HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES)},
        {std::make_error_code(std::errc::broken_pipe), E_FAIL},
        {std::make_error_code(std::errc::io_error), E_FAIL},
        {std::make_error_code(std::io_errc::stream), E_FAIL},
        {std::error_code(1, foreign), E_FAIL},
        {std::error_code(-7, foreign), E_FAIL},
        {std::error_code(0, foreign), S_OK},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cam::to_hresult(c.error), c.expected) << c.error.category().name() << " " << c.error.value();
    }
}

} // namespace
