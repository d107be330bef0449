#include "gen_utils/cam_error.h"

#include <gtest/gtest.h>

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

TEST(to_hresult, keeps_cam_values_and_makes_win32_errors_failures)
{
    EXPECT_EQ(cam::to_hresult(make_cam_error(S_FALSE)), S_FALSE);
    EXPECT_EQ(cam::to_hresult(make_cam_error(static_cast<HRESULT>(0x80070651))), static_cast<HRESULT>(0x80070651));
    EXPECT_EQ(cam::to_hresult(make_cam_error(5)), 5); // a raw Win32 number in cam_error_cat stays as it is

    // A Win32 error of the system category must not reach a client as success.
    EXPECT_EQ(cam::to_hresult(std::error_code(5, std::system_category())), static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(cam::to_hresult(std::error_code(0, std::system_category())), S_OK);
    EXPECT_EQ(cam::to_hresult(std::error_code(static_cast<int>(0x8007001F), std::system_category())),
              static_cast<HRESULT>(0x8007001F));
}

TEST(to_hresult, other_categories_map_not_supported_to_not_implemented)
{
    EXPECT_EQ(cam::to_hresult(std::make_error_code(std::errc::not_supported)), E_NOTIMPL);
    EXPECT_EQ(cam::to_hresult(std::make_error_code(std::errc::invalid_argument)),
              static_cast<HRESULT>(static_cast<int>(std::errc::invalid_argument)));
}

} // namespace
