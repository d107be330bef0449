#include "gen_utils/log.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

namespace {

struct log_test : ::testing::Test {
    std::vector<std::pair<std::uint32_t, std::string>> lines;
    void SetUp() override
    {
        service_log_level = 0;
        log_category_mask = 0;
        log_sinks[1] = [this](std::uint32_t code, const char* text) { lines.emplace_back(code, text); };
    }
    void TearDown() override
    {
        log_sinks[1] = nullptr;
        service_log_level = 0;
        log_category_mask = 0;
    }
    void configure(std::uint32_t level, std::uint32_t mask)
    {
        service_log_level = level;
        log_category_mask = mask;
    }
};

TEST_F(log_test, filter_compares_level_and_category_bits)
{
    const struct {
        std::uint32_t level, mask, code;
        bool enabled;
    } cases[] = {
        {0, 0xff0000, 1, false},           // level 0 lets nothing through
        {0, 0xff0000, 0x20001, false},
        {1, 0, 1, true},
        {1, 0, 2, false},
        {3, 0, 3, true},                   // no category bits: the mask does not matter
        {3, 0x20000, 3, true},
        {4, 0, 0x100004, false},           // KS call traces need their category bit
        {4, 0x100000, 0x100004, true},
        {2, 0xff0000, 0x20003, false},     // level too high whatever the mask
        {3, 0x20000, 0x20003, true},
        {3, 0x10000, 0x20003, false},      // wrong category
        {3, 0x30000, 0x20003, true},       // one shared bit is enough
        {255, 0xff0000, 0x80003, true},
        {3, 0, 0x01000003, true},          // bits outside both fields are ignored
    };
    for (const auto& c : cases) {
        configure(c.level, c.mask);
        EXPECT_EQ(log_enabled(c.code), c.enabled)
            << std::hex << "level=" << c.level << " mask=" << c.mask << " code=" << c.code;
    }
}

TEST_F(log_test, lines_reach_sinks_only_when_enabled_and_unchanged)
{
    configure(2, 0);
    log_line(3, "[CamTovra] hidden {}\n", 1);
    log_line(2, "[CamTovra] shown {} {}\n", 7, "x");
    log_line(0x40002, "[CamTovra] category off\n");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, 2u);
    EXPECT_EQ(lines[0].second, "[CamTovra] shown 7 x\n"); // the sink adds no prefix of its own
}

TEST_F(log_test, error_code_prints_its_message)
{
    configure(1, 0);
    log_line(1, "Failed: {}\n", std::make_error_code(std::errc::invalid_argument));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].second, "Failed: ec=\"" + std::make_error_code(std::errc::invalid_argument).message() + "\"\n");
}

TEST_F(log_test, throwing_sink_does_not_stop_the_others_or_the_caller)
{
    configure(1, 0);
    log_sinks[0] = [](std::uint32_t, const char*) { throw std::runtime_error("sink failed"); };
    EXPECT_NO_THROW(log_line(1, "line\n"));
    log_sinks[0] = nullptr;
    EXPECT_EQ(lines.size(), 1u);
}

} // namespace
