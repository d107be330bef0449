#include "genicam/number_text.h"
#include "genicam/xml_value_readers.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace GenICam::impl;

TEST(number_text, integers_read_signs_blanks_and_hexadecimal)
{
    const struct {
        std::string_view text;
        std::int64_t value;
        std::size_t consumed;
    } cases[] = {
        {" -0x10", -16, 6}, {"--5", 5, 3}, {"+ 7", 7, 3}, {"12abc", 12, 2}, {"0x", 0, 1},
        {"0X1f", 31, 4},    {"x7", 0, 0},  {"", 0, 0},    {"0xg", 0, 0},    {"- - 5", 5, 5},
    };
    for (const auto& c : cases) {
        const parsed_integer p = parse_integer_text(c.text);
        EXPECT_EQ(p.consumed.size(), c.consumed) << c.text;
        if (c.consumed != 0) {
            EXPECT_EQ(p.value, c.value) << c.text;
        }
    }
    EXPECT_TRUE(parse_integer_text("99999999999999999999").ok()) << "wraps without error";
    EXPECT_EQ(parse_hex_text("1A").value, 26);
    EXPECT_EQ(parse_hex_text("0x10").value, 0);
    EXPECT_FALSE(parse_hex_text("zz").ok());
}

TEST(number_text, floats_and_literals_do_not_depend_on_the_locale)
{
    // A locale with a decimal comma must not change how descriptions read.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old != nullptr ? old : "C";
    const bool switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(parse_float_text("1.5").value, 1.5);
    EXPECT_EQ(parse_float_text("  -2e3x").value, -2000.0);
    EXPECT_EQ(parse_float_text("  -2e3x").consumed.size(), 6u);
    EXPECT_EQ(parse_float_text("0x1.8p1").value, 3.0);
    EXPECT_TRUE(std::isinf(parse_float_text("1e999").value));
    EXPECT_EQ(parse_float_text("1e-999").value, 0.0);
    EXPECT_TRUE(std::isnan(parse_float_text("nan").value));
    EXPECT_TRUE(std::isinf(parse_float_text("-Infinity").value));
    EXPECT_FALSE(parse_float_text("abc").ok());
    EXPECT_FALSE(parse_float_text("-").ok());
    const auto three = parse_number_literal("3.");
    ASSERT_TRUE(three.has_value());
    EXPECT_FALSE(three->value.is_integer);
    EXPECT_EQ(three->value.d, 3.0);
    EXPECT_FALSE(parse_number_literal(".").has_value());
    const auto seven = parse_number_literal("7abc");
    ASSERT_TRUE(seven.has_value());
    EXPECT_TRUE(seven->value.is_integer);
    EXPECT_EQ(seven->consumed, "7");
    EXPECT_EQ(parse_number_literal("0x1F")->value.i, 31);
    EXPECT_EQ(parse_number_literal("1E-3")->value.d, 1e-3);
    if (switched) {
        std::setlocale(LC_NUMERIC, saved.c_str());
    }
}

TEST(xml_value_readers, enumerated_texts_are_exact_and_fall_back_silently_when_absent)
{
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(R"(<N><AccessMode>ro</AccessMode><Endianess>LittleEndian</Endianess>
        <Cachable></Cachable><PollingTime>250ms</PollingTime><DisplayPrecision>abc</DisplayPrecision>
        <Representation>HexNumber</Representation><Sign>Signed</Sign></N>)"));
    GenICam::impl::element_children_store store;
    const GenICam::impl::element_children& n = store.build(doc.first_child());
    testing::internal::CaptureStdout();
    EXPECT_EQ(read_access_mode(n), GenICam::access_mode::RW);
    EXPECT_FALSE(read_endianess(n));
    EXPECT_EQ(read_cachable(n, GenICam::cache_mode::WriteThrough), GenICam::cache_mode::WriteThrough);
    EXPECT_EQ(read_polling_time(n), 250);
    EXPECT_EQ(read_display_precision(n), 6);
    EXPECT_EQ(read_integer_representation(n), GenICam::integer_representation::HexNumber);
    EXPECT_EQ(read_float_representation(n), GenICam::float_representation::PureNumber);
    EXPECT_FALSE(read_sign(n));
    EXPECT_TRUE(read_endianess(GenICam::impl::element_children::none()));
    const std::string lines = testing::internal::GetCapturedStdout();
    EXPECT_NE(lines.find("Invalid contents of \"AccessMode\" node (\"ro\"\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Invalid contents (\"abc\") of \"DisplayPrecision\" xml node.\n"), std::string::npos);
    EXPECT_NE(lines.find("Invalid contents (\"HexNumber\") of Float \"Representation\" xml node.\n"),
              std::string::npos);
    EXPECT_EQ(lines.find("Cachable"), std::string::npos) << "empty text falls back without a message";
    EXPECT_EQ(parse_standard_name_space("CLHS"), 6u);
    EXPECT_FALSE(parse_standard_name_space("none").has_value());
}

} // namespace
