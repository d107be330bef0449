#include "gen_utils/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

struct log_test : ::testing::Test {
    std::vector<std::pair<std::uint32_t, std::string>> lines;
    void SetUp() override
    {
        service_log_level = 0;
        log_category_mask = 0;
        set_log_sink(1, [this](std::uint32_t code, const char* text) { lines.emplace_back(code, text); });
    }
    void TearDown() override
    {
        set_log_sink(1, nullptr);
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
    set_log_sink(0, [](std::uint32_t, const char*) { throw std::runtime_error("sink failed"); });
    EXPECT_NO_THROW(log_line(1, "line\n"));
    set_log_sink(0, nullptr);
    EXPECT_EQ(lines.size(), 1u);
}

TEST_F(log_test, slot_past_the_table_is_refused)
{
    EXPECT_THROW(set_log_sink(log_sink_slots, [](std::uint32_t, const char*) {}), std::out_of_range);
    configure(1, 0);
    log_line(1, "line\n");
    EXPECT_EQ(lines.size(), 1u); // the last slot keeps its sink
}

// Test captures set a sink whose owner dies right after they clear it, while
// other threads go on logging: once the setter returns, the old sink must be
// out of reach.
TEST_F(log_test, cleared_sink_is_never_called_once_the_setter_returns)
{
    set_log_sink(1, nullptr); // the fixture's sink is for one thread only
    configure(3, 0);
    struct writers {
        std::atomic<bool> stop{false};
        std::vector<std::thread> threads;
        writers()
        {
            for (int i = 0; i < 2; ++i) {
                threads.emplace_back([this, i] {
                    while (!stop.load()) {
                        log_line(3, "[CamTovra] writer {}\n", i);
                    }
                });
            }
        }
        ~writers()
        {
            stop = true;
            for (auto& t : threads) {
                t.join();
            }
        }
    };
    std::atomic<int> cleared_round{-1};
    std::atomic<int> late_calls{0};
    {
        writers logging;
        for (int round = 0; round < 200; ++round) {
            struct counter {
                std::atomic<long> calls{0};
                std::atomic<int>& cleared_round;
                std::atomic<int>& late_calls;
            } owner{0, cleared_round, late_calls}; // dies at the end of the round, right after the clear
            set_log_sink(1, [&owner, round](std::uint32_t, const char*) {
                if (owner.cleared_round.load() >= round) {
                    ++owner.late_calls;
                }
                ++owner.calls;
            });
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (owner.calls.load() == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield(); // until the writers reach the new sink
            }
            ASSERT_GT(owner.calls.load(), 0) << "round " << round;
            set_log_sink(1, nullptr);
            cleared_round = round;
        }
    }
    EXPECT_EQ(late_calls.load(), 0);
}

} // namespace
