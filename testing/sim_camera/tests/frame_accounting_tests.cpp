// The frame accounting of the stream clients against a model of the frame
// path and its channel: whatever the client's pace, frames dropped and
// counted pass; a frame lost uncounted fails even where another drop was
// counted twice, before or after it.

#include "frame_accounting.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>

namespace {

using sim_camera::frame_accounting;

// The camera sends numbered frames into the frame path, which delivers each
// to a ready queue of two; a full queue gives the frame back, counted.
struct channel_model {
    std::uint64_t next = 0;
    std::deque<std::uint64_t> ready;
    sim_camera::frame_counters counts;

    void send()
    {
        ++counts.delivered;
        if (ready.size() == 2) {
            ++counts.client_starvation;
        } else {
            ready.push_back(next);
        }
        ++next;
    }
    // Takes the next frame into the accounting: its verdict, or "none" with
    // nothing ready.
    std::string take(frame_accounting& accounting)
    {
        if (ready.empty()) {
            return "none";
        }
        const std::uint64_t number = ready.front();
        ready.pop_front();
        return accounting.take(number, counts);
    }
};

enum class fault {
    none,
    counted,
    lost_then_counted_twice,
    counted_twice_then_lost,
    counted_twice_last,
    counted_after_the_last_take,
    counted_twice_after_the_last_take,
    channel_drop_uncounted
};

// Streams 400 frames at a random pace with the fault injected at frames 100
// and 160 (the channel's: at the first full queue from frame 100 on; counted:
// both frames dropped and counted once, as often right after a frame the
// client has yet to take; counted twice last: frame 399, the last one; after
// the last take: one more frame dropped once the client took its last, which
// only the end of the stream can check); true when every take and the end of
// the stream were accounted for.
bool stream(fault injected, unsigned seed)
{
    channel_model model;
    frame_accounting accounting;
    accounting.allow_packet_loss(2); // the sums of the counts match the frames missed
    std::mt19937 random(seed);
    bool clean = true;
    bool channel_fault_done = false;
    while (model.next < 400) {
        for (int burst = static_cast<int>(random() % 4); burst > 0; --burst) {
            const std::uint64_t at = model.next;
            if ((at == 100 || at == 160) && injected == fault::counted) {
                ++model.counts.packet_loss;
                ++model.next;
            } else if ((at == 100 && injected == fault::lost_then_counted_twice) ||
                       (at == 160 && injected == fault::counted_twice_then_lost)) {
                ++model.next; // the frame path gives a frame back uncounted
            } else if ((at == 160 && injected == fault::lost_then_counted_twice) ||
                       (at == 100 && injected == fault::counted_twice_then_lost) ||
                       (at == 399 && injected == fault::counted_twice_last)) {
                model.counts.packet_loss += 2; // one frame dropped, counted twice
                ++model.next;
            } else if (at >= 100 && injected == fault::channel_drop_uncounted && !channel_fault_done &&
                       model.ready.size() == 2) {
                channel_fault_done = true;
                ++model.counts.delivered;
                ++model.next;
            } else {
                model.send();
            }
        }
        for (int takes = static_cast<int>(random() % 3); takes > 0; --takes) {
            const std::string verdict = model.take(accounting);
            if (verdict != "none" && !verdict.empty()) {
                clean = false;
            }
        }
    }
    if (injected == fault::counted_after_the_last_take || injected == fault::counted_twice_after_the_last_take) {
        model.counts.packet_loss += injected == fault::counted_after_the_last_take ? 1 : 2;
        ++model.next;
    }
    return clean && accounting.finish(model.counts, model.next).empty();
}

TEST(frame_accounting, frames_dropped_and_counted_pass_and_one_lost_uncounted_fails_though_another_counted_twice)
{
    for (unsigned seed = 1; seed <= 50; ++seed) {
        SCOPED_TRACE(seed);
        EXPECT_TRUE(stream(fault::none, seed));
        EXPECT_TRUE(stream(fault::counted, seed));
        EXPECT_FALSE(stream(fault::lost_then_counted_twice, seed));
        EXPECT_FALSE(stream(fault::counted_twice_then_lost, seed));
        EXPECT_FALSE(stream(fault::counted_twice_last, seed)) << "no take after it";
        EXPECT_TRUE(stream(fault::counted_after_the_last_take, seed));
        EXPECT_FALSE(stream(fault::counted_twice_after_the_last_take, seed)) << "only the end of the stream sees it";
    }
    // A channel that gives a delivered frame back without counting it, the
    // first time it has to.
    for (unsigned seed = 1; seed <= 50; ++seed) {
        EXPECT_FALSE(stream(fault::channel_drop_uncounted, seed)) << seed;
    }
}

TEST(frame_accounting, packet_loss_passes_only_as_injected_and_starvation_only_while_the_client_holds_buffers)
{
    channel_model model;
    frame_accounting accounting;
    model.send();
    EXPECT_EQ(model.take(accounting), "");
    ++model.next; // a frame lost and counted
    ++model.counts.packet_loss;
    model.send();
    EXPECT_NE(model.take(accounting), "") << "nothing was injected";

    frame_accounting injected;
    injected.allow_packet_loss(1);
    channel_model again;
    again.send();
    EXPECT_EQ(again.take(injected), "");
    ++again.next;
    ++again.counts.packet_loss;
    again.send();
    EXPECT_EQ(again.take(injected), "");
    ++again.next;
    ++again.counts.packet_loss;
    again.send();
    EXPECT_NE(again.take(injected), "") << "one more than injected";

    // The client takes frame 0 only after the frame path dropped frame 1 and
    // counted it: a take hands out the latest counters, so that passes. Had
    // frame 1 been counted twice, the next frame taken shows it, the first
    // one after a restart (the stop lost nothing), or the end of the stream.
    for (const std::uint64_t counted : {1u, 2u}) {
        frame_accounting late;
        frame_accounting restarted;
        frame_accounting last;
        for (frame_accounting* a : {&late, &restarted, &last}) {
            a->allow_packet_loss(2);
        }
        channel_model m;
        m.send();
        ++m.next;
        m.counts.packet_loss += counted;
        channel_model at_restart = m;
        EXPECT_EQ(m.take(late), "") << counted;
        EXPECT_EQ(at_restart.take(restarted), "") << counted;
        EXPECT_EQ(last.take(0, m.counts), "") << counted;
        EXPECT_EQ(last.finish(m.counts, m.next).empty(), counted == 1) << counted;
        EXPECT_NE(last.finish(m.counts, m.next - 1), "") << counted << ": frame 1 was never sent";
        m.send();
        EXPECT_EQ(m.take(late).empty(), counted == 1) << counted;
        restarted.restart();
        at_restart.send();
        EXPECT_EQ(at_restart.take(restarted).empty(), counted == 1) << counted;
    }

    // Frames 0 and 1 delivered, 0 taken; then the frame path counts
    // payloads it had no buffer for.
    sim_camera::frame_counters c;
    c.delivered = 2;
    frame_accounting keeps_one;
    frame_accounting keeps_more;
    EXPECT_EQ(keeps_one.take(0, c), "");
    EXPECT_EQ(keeps_more.take(0, c), "");
    c.input_starvation = 19;
    keeps_more.hold();
    EXPECT_NE(keeps_one.take(1, c), "") << "a client that keeps one buffer leaves the frame path one";
    EXPECT_EQ(keeps_more.take(1, c), "");
}

TEST(frame_accounting, a_restart_may_lose_what_the_stop_cancelled_and_no_more)
{
    // Frames 0-9, a stop that loses `lost` frames uncounted (negative: one
    // frame cut in two and counted twice), a new run of ten frames.
    auto across = [](std::int64_t lost, std::uint64_t loss_counted) {
        channel_model model;
        frame_accounting accounting;
        std::string verdict;
        for (int i = 0; i < 10 && verdict.empty(); ++i) {
            model.send();
            verdict = model.take(accounting);
        }
        accounting.restart();
        accounting.new_run();
        model.counts.packet_loss += loss_counted;
        model.next = static_cast<std::uint64_t>(static_cast<std::int64_t>(model.next + loss_counted) + lost);
        for (int i = 0; i < 10 && verdict.empty(); ++i) {
            model.send();
            verdict = model.take(accounting);
        }
        // Pinned again: the run after it is exact.
        ++model.next;
        model.send();
        const std::string after = model.take(accounting);
        return verdict.empty() && !after.empty();
    };
    EXPECT_TRUE(across(0, 0));
    EXPECT_TRUE(across(frame_accounting::stop_may_lose, 0)) << "full frames: every buffer was a read in flight";
    EXPECT_TRUE(across(-1, 2)) << "payloads: the two parts of one frame";
    EXPECT_TRUE(across(0, 2)) << "payloads: the part held and the rest of the next frame";
    EXPECT_FALSE(across(frame_accounting::stop_may_lose + 1, 0));
    EXPECT_FALSE(across(-2, 2));
    EXPECT_FALSE(across(0, 3));
}

} // namespace
