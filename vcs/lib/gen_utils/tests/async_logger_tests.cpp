#include "gen_utils/async_logger.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gen_utils/log.h"

namespace {

struct async_logger_test : ::testing::Test {
    std::mutex mutex;
    std::vector<std::string> written;
    utils::async_logger logger;

    void SetUp() override
    {
        set_log_sink(1, [this](std::uint32_t, const char* text) {
            std::lock_guard lock(mutex);
            written.emplace_back(text);
        });
    }
    void TearDown() override
    {
        logger.stop();
        set_log_sink(1, nullptr);
    }
    std::vector<std::string> snapshot()
    {
        std::lock_guard lock(mutex);
        return written;
    }
    template <typename Pred>
    static bool wait_until(Pred pred)
    {
        for (int i = 0; i < 1000 && !pred(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return pred();
    }
};

TEST_F(async_logger_test, writes_texts_and_produced_lines_in_order)
{
    logger.start();
    logger.post({1, nullptr, "first\n"});
    logger.post({1, [] { return std::string("made\n"); }, "ignored"});
    ASSERT_TRUE(wait_until([&] { return snapshot().size() == 2; }));
    EXPECT_EQ(snapshot(), (std::vector<std::string>{"first\n", "made\n"}));
}

TEST_F(async_logger_test, stop_drops_pending_lines_and_restart_works)
{
    logger.start();
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    logger.post({1, [&] {
                     entered.set_value();
                     released.wait();
                     return std::string("busy\n");
                 },
                 {}});
    entered.get_future().wait(); // the thread now holds the first entry
    logger.post({1, nullptr, "dropped 1\n"});
    logger.post({1, nullptr, "dropped 2\n"});
    ASSERT_EQ(logger.pending(), 2u);

    std::thread stopper([&] { logger.stop(); });
    ASSERT_TRUE(wait_until([&] { return logger.pending() == 0; }));
    release.set_value();
    stopper.join();

    EXPECT_FALSE(logger.running());
    EXPECT_EQ(snapshot(), std::vector<std::string>{"busy\n"});

    EXPECT_NO_THROW(logger.stop()); // a second stop is harmless

    logger.start();
    EXPECT_TRUE(logger.running());
    logger.post({1, nullptr, "after restart\n"});
    ASSERT_TRUE(wait_until([&] { return snapshot().size() == 2; }));
    EXPECT_EQ(snapshot().back(), "after restart\n");
}

TEST_F(async_logger_test, lines_queued_before_start_are_written_once_it_runs)
{
    logger.post({1, nullptr, "early\n"});
    logger.stop(); // no thread yet: nothing dropped
    EXPECT_EQ(logger.pending(), 1u);
    logger.start();
    ASSERT_TRUE(wait_until([&] { return snapshot().size() == 1; }));
}

TEST(async_logger_instance, is_created_running)
{
    auto& logger = utils::async_logger::instance();
    EXPECT_TRUE(logger.running());
    EXPECT_EQ(&logger, &utils::async_logger::instance());
    logger.stop();
    EXPECT_FALSE(logger.running());
    logger.start(); // leave the process-wide logger running, as the next run finds it
}

} // namespace
