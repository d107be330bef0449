#include "genicam/genicam_error.h"

#include <gtest/gtest.h>

namespace {

using GenICam::errc;

TEST(genicam_error_category, names_itself_and_gives_each_code_its_text)
{
    EXPECT_STREQ(GenICam::genicam_category().name(), "GenICam Error");
    const struct {
        errc code;
        const char* text;
    } cases[] = {
        {errc::success, "Success"},
        {errc::buffer_too_small, "Buffer too small"},
        {errc::device_lost, "Device lost"},
        {errc::no_cached_value, "Failed to fetch cached value in a 'NoCache' request"},
        {errc::index_out_of_range, "Index out of range"},
        {errc::formula_parse_failed, "Failed to parse formula"},
        {errc::value_out_of_range, "Passed in value is out of range of Min/Max"},
        {errc::node_not_available, "writing failed because node was not available INode::is_available() == false"},
        {errc::not_implemented, "Feature not implemented"},
        {errc::invalid_parameter, "Invalid parameter"},
        {errc::invalid_address, "Invalid address"},
        {errc::bad_alignment, "Bad Alignment"},
        {errc::access_denied, "Access denied"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(make_error_code(c.code).message(), c.text) << std::hex << static_cast<std::uint32_t>(c.code);
    }
    // Two blanks after the comma: the text is matched by clients as it stands.
    const std::string locked = make_error_code(errc::value_locked).message();
    EXPECT_EQ(locked.size(), 68u);
    EXPECT_NE(locked.find("locked,  INode"), std::string::npos);
}

TEST(genicam_error_category, unknown_codes_keep_their_value_and_category)
{
    const auto unknown = GenICam::make_genicam_error(0x80000001);
    EXPECT_EQ(unknown.message(), "Unknown error");
    const auto condition = unknown.default_error_condition();
    EXPECT_EQ(&condition.category(), &GenICam::genicam_category());
    EXPECT_EQ(static_cast<std::uint32_t>(condition.value()), 0x80000001u);
}

TEST(genicam_error_category, codes_map_to_portable_conditions)
{
    EXPECT_EQ(make_error_code(errc::invalid_parameter), std::errc::invalid_argument);
    EXPECT_EQ(make_error_code(errc::index_out_of_range), std::errc::invalid_argument);
    EXPECT_EQ(make_error_code(errc::not_implemented), std::errc::not_supported);
    EXPECT_EQ(make_error_code(errc::invalid_address), std::errc::address_not_available);
    EXPECT_EQ(make_error_code(errc::access_denied), std::errc::permission_denied);
    EXPECT_EQ(make_error_code(errc::value_out_of_range), std::errc::result_out_of_range);
    EXPECT_EQ(make_error_code(errc::buffer_too_small), std::errc::no_buffer_space);
    EXPECT_EQ(make_error_code(errc::device_lost), std::errc::no_such_device);
    EXPECT_FALSE(make_error_code(errc::success));
    // Codes without a portable meaning match only themselves.
    EXPECT_NE(make_error_code(errc::formula_parse_failed), std::errc::invalid_argument);
    EXPECT_EQ(make_error_code(errc::formula_parse_failed).default_error_condition(),
              std::error_condition(static_cast<int>(0x80000103u), GenICam::genicam_category()));
}

} // namespace
