#include "service/process_tracker.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "child_process.h"

namespace {

using service::process_tracker;

// A client process that lives until `release` is called or it is killed.
struct client {
    std::wstring event_name = win32::make_unique_global_name(L"camtovra_tracker_client_");
    win32::unique_handle exit_event{CreateEventW(nullptr, TRUE, FALSE, event_name.c_str())};
    test_support::child_process child = test_support::start_helper(WAIT_FOR_EVENT_EXE, event_name);

    void release() const { SetEvent(exit_event.get()); }
    void kill() const { TerminateProcess(child.process.get(), 9); }
};

// Records the order in which actions ran and signals after `expected` runs.
// Its state is shared with every action it made: the waiter may destroy the
// log as soon as the signal woke it, while the tracker's thread-pool thread is
// still inside the action that signalled.
struct action_log {
    struct state {
        std::mutex mutex;
        std::vector<int> runs; // guarded by mutex
        win32::unique_handle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::size_t expected = 1;
        // Run by the action that signalled, right after its signal: a test
        // holds the action there while its waiter goes on.
        std::function<void()> after_signal;
    };
    std::shared_ptr<state> shared = std::make_shared<state>();

    explicit action_log(std::size_t expected = 1) { shared->expected = expected; }

    process_tracker::exit_action action(int id) const
    {
        return [s = shared, id] {
            bool reached = false;
            {
                std::lock_guard lock(s->mutex);
                s->runs.push_back(id);
                reached = s->runs.size() >= s->expected;
            }
            // Signalled without the lock: the woken waiter reads the runs at once.
            if (reached) {
                SetEvent(s->done.get());
                if (s->after_signal) {
                    s->after_signal();
                }
            }
        };
    }
    bool wait() const { return WaitForSingleObject(shared->done.get(), 20000) == WAIT_OBJECT_0; }
    std::vector<int> runs() const
    {
        std::lock_guard lock(shared->mutex);
        return shared->runs;
    }
};

TEST(process_tracker, runs_each_exit_action_once_in_key_order_when_the_client_exits)
{
    client c;
    ASSERT_TRUE(c.child.process);
    auto tracker = process_tracker::create(c.child.id);
    EXPECT_EQ(tracker->process_id(), c.child.id);
    EXPECT_FALSE(tracker->exited());

    const int keys[3] = {};
    action_log log(2);
    EXPECT_TRUE(tracker->add_exit_action(&keys[2], log.action(2)));
    EXPECT_TRUE(tracker->add_exit_action(&keys[0], log.action(99)));
    EXPECT_TRUE(tracker->add_exit_action(&keys[0], log.action(0))); // replaces 99
    EXPECT_TRUE(tracker->add_exit_action(&keys[1], log.action(1)));
    tracker->remove_exit_action(&keys[1]);

    c.release();
    EXPECT_EQ(c.child.wait(), 0u);
    ASSERT_TRUE(log.wait());
    EXPECT_TRUE(tracker->exited());
    EXPECT_EQ(log.runs(), (std::vector<int>{0, 2}));
    // Too late: refused, never run.
    EXPECT_FALSE(tracker->add_exit_action(&keys[1], log.action(5)));
    tracker.reset();
    EXPECT_EQ(log.runs().size(), 2u);
}

TEST(process_tracker, killed_client_runs_its_actions_and_a_throwing_action_does_not_stop_the_rest)
{
    client c;
    auto tracker = process_tracker::create(c.child.id);
    const int keys[2] = {};
    action_log log;
    tracker->add_exit_action(&keys[0], [] { throw std::runtime_error("action failed"); });
    tracker->add_exit_action(&keys[1], log.action(1));
    c.kill();
    ASSERT_TRUE(log.wait());
    EXPECT_TRUE(tracker->exited());
}

TEST(process_tracker, an_action_may_drop_the_last_reference_to_its_tracker)
{
    client c;
    auto tracker = process_tracker::create(c.child.id);
    action_log log;
    auto* slot = &tracker;
    tracker->add_exit_action(slot, [slot, signal = log.action(1)] {
        slot->reset();
        signal();
    });
    c.kill();
    ASSERT_TRUE(log.wait());
    EXPECT_EQ(tracker, nullptr);
}

TEST(process_tracker, an_action_held_after_its_signal_still_has_the_log_its_waiter_destroyed)
{
    client c;
    auto tracker = process_tracker::create(c.child.id);
    win32::unique_handle resume{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    // Lets the held action go on however the test ends; before the tracker's
    // reset, which waits for the action.
    struct set_on_exit {
        HANDLE event;
        ~set_on_exit() { SetEvent(event); }
    } const release_on_exit{resume.get()};
    std::weak_ptr<action_log::state> state;
    {
        action_log log;
        log.shared->after_signal = [event = resume.get()] { WaitForSingleObject(event, 20000); };
        state = log.shared;
        const int key = 0;
        tracker->add_exit_action(&key, log.action(1));
        c.kill();
        ASSERT_TRUE(log.wait());
        EXPECT_EQ(log.runs(), std::vector<int>{1});
    } // the waiter destroys its log while the action that woke it is held
    EXPECT_FALSE(state.expired()) << "the log's state was destroyed while its action was still running";
    SetEvent(resume.get());
    tracker.reset(); // waits for the action to end
    EXPECT_TRUE(state.expired());
}

TEST(process_tracker, creation_fails_for_a_process_that_cannot_be_opened)
{
    for (const std::uint32_t id : {0u, 0xFFFFFFF0u}) {
        try {
            process_tracker::create(id);
            ADD_FAILURE() << "process id " << id;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Failed to open process handle current process id.");
        }
    }
}

TEST(process_tracker, an_action_added_for_an_ended_client_is_run_or_refused_never_lost)
{
    client c;
    c.release();
    ASSERT_EQ(c.child.wait(), 0u);
    // The child's handle keeps its id valid: the tracker opens an ended process.
    auto tracker = process_tracker::create(c.child.id);
    action_log log;
    const int key = 0;
    if (tracker->add_exit_action(&key, log.action(1))) {
        EXPECT_TRUE(log.wait());
    }
    tracker.reset(); // waits for a running callback
    EXPECT_LE(log.runs().size(), 1u);
}

} // namespace

namespace {

TEST(process_tracker_map, keeps_one_tracker_per_live_process_and_replaces_an_exited_one)
{
    service::process_tracker_map map;
    EXPECT_EQ(map.tracker_for(0), nullptr);
    EXPECT_THROW(map.tracker_for(0xFFFFFFF0u), std::runtime_error);
    EXPECT_EQ(map.size(), 0u);

    client c;
    const auto first = map.tracker_for(c.child.id);
    EXPECT_EQ(map.tracker_for(c.child.id), first);
    EXPECT_EQ(map.tracker_for(GetCurrentProcessId())->process_id(), GetCurrentProcessId());
    EXPECT_EQ(map.size(), 2u);

    action_log log;
    const int key = 0;
    first->add_exit_action(&key, log.action(1));
    c.release();
    ASSERT_TRUE(log.wait());
    // The exited tracker is dropped at the next lookup; the child's handle
    // keeps its id valid, so a new tracker is made for it.
    const auto second = map.tracker_for(c.child.id);
    EXPECT_NE(second, first);
}

} // namespace
