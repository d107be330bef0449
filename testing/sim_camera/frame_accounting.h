#pragma once
// Exact accounting of the frames a client takes from one stream channel of
// the simulated camera. The camera numbers every frame it sends and the image
// carries that number; the counters that come with every frame taken say what
// became of the frames so far.
//
// The frame path takes the camera's frames in order and either delivers each
// one to the channel or drops it (and counts the drop); the channel queues a
// delivered frame for the client or, with two already waiting, gives it back
// (and counts that). So the counters handed out with a frame say how many
// frames the camera has sent into the frame path so far, `sent` = delivered +
// every drop the frame path counted, and the frames numbered below
// `base + sent` (`base`: the number of the channel's first frame) are each
// either taken by the client, waiting in the ready queue, or counted as
// dropped. Frames missed are matched against these counts at every take, not
// summed over the stream, so a drop counted twice cannot cover a frame lost
// uncounted later:
// - waiting = delivered - dropped by the channel - taken: after a take at
//   most one frame waits (the queue holds two);
// - the frame taken was sent (its number is below base + sent), and so was
//   the one waiting after it;
// - one that waited at the previous take was sent before it;
// - a take with none waiting after it leaves every frame up to the last one
//   sent taken or dropped: later frames taken have higher numbers; so does
//   the one after a frame that waited, beyond what was sent by then;
// - nothing waited after the previous take and nothing waits after this
//   one: the frame is the only one delivered since. If the frame path
//   dropped nothing since either, it is the last one sent; this pins `base`
//   again after a stop. The counters are the latest ones, not those of the
//   frame's delivery: frames sent after it may have been dropped and counted
//   while it waited for the client, and a later take checks them (they are
//   below the floor this take sets). That floor holds across a restart too,
//   and at the end of the stream `finish` checks the counts no later take
//   could against the frames the camera sent.
// With nothing injected, packet loss, filter and unspecified drops stay 0, and
// the frame path starves for buffers only while the client keeps more than
// one (hold), so every frame missed is a drop the channel counted.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace sim_camera {

// The six counters handed out with a frame, as the stream channel's record
// orders them; the channel's own drops are in client_starvation.
struct frame_counters {
    std::uint64_t delivered = 0;
    std::uint64_t packet_loss = 0;
    std::uint64_t input_starvation = 0;
    std::uint64_t client_starvation = 0;
    std::uint64_t filter = 0;
    std::uint64_t unspecified = 0;

    // From a record with the channel's field names (the COM record or the
    // frame path's own).
    template <class Record>
    static frame_counters of(const Record& r) noexcept
    {
        return {r.frames_delivered,
                r.frames_dropped_due_to_packet_loss,
                r.frames_dropped_due_to_input_buffer_starvation,
                r.frames_dropped_due_to_dshow_buffer_starvation,
                r.frames_dropped_due_to_filter,
                r.frames_dropped_due_to_unspecified};
    }
    // Frames the camera has sent into the frame path.
    std::uint64_t sent() const noexcept { return delivered + packet_loss + input_starvation + filter + unspecified; }
};

class frame_accounting {
public:
    // A stop may lose frames uncounted: in full-frame mode each of the
    // channel's four buffers can be a read queued on the endpoint that the
    // camera filled just before the stop dropped it (payload mode: the five
    // transfers in flight hold less than one frame).
    static constexpr std::int64_t stop_may_lose = 4;
    // In payload mode a stop can cut one frame in two: the part the frame
    // path held over the pause and the rest that follows the start are each
    // judged incomplete, one frame counted twice as packet loss.
    static constexpr std::int64_t stop_may_count_twice = 1;
    // Packet loss a stop may cause: the frame it cut (its two parts), or the
    // part held over it and the rest of the next frame.
    static constexpr std::uint64_t stop_may_cost_packets = 2;

    // `first`: the number of the first frame the camera sends into this
    // channel (0 for a camera that never streamed). Without it, the camera
    // streamed before, as after a stop, and `base` is learnt at the first
    // take that pins it.
    explicit frame_accounting(std::optional<std::uint64_t> first = 0)
    {
        if (first) {
            base_ = static_cast<std::int64_t>(*first);
        } else {
            restarts_ = 1; // a camera that streamed before may start with the rest of a cut frame
        }
    }

    // A frame taken, with the number it carries and the counters handed out
    // with it; empty when all is accounted for, otherwise what is wrong.
    std::string take(std::uint64_t number, const frame_counters& c)
    {
        std::string fault = check(number, c);
        if (has_last_) {
            missed_ += number > last_ ? number - last_ - 1 : 0;
        }
        has_last_ = true;
        last_ = number;
        last_counts_ = c;
        ++taken_;
        return fault;
    }

    // The stream was paused (or stopped) and started again. Frames finished
    // before may still come; then the camera's frames follow with the loss a
    // stop may cause, until a take of the new run pins `base` again.
    void restart() noexcept
    {
        ++restarts_;
        awaiting_run_ = true;
    }
    // The first frame of the new run is the next one taken (the camera's own
    // frame number restarted).
    void new_run() noexcept { awaiting_run_ = false; }
    // From now on the client keeps more than one buffer: the frame path may
    // have none to fill and counts each payload it had to drop, which says
    // nothing of frame numbers. Frames are then checked against the channel
    // only.
    void hold() noexcept { holding_ = true; }
    // A test injected faults that cost this many frames as packet loss.
    void allow_packet_loss(std::uint64_t frames) noexcept { loss_allowed_ += frames; }

    // The stream ended: `c` are the counters read once the camera sent no
    // more (after the stop), `camera_next` one past the number of the last
    // frame the camera sent, or a bound above it (one past the last frame
    // it began). The drops counted at the last take or after it have no
    // later take to check them: the counters may not say more frames were
    // sent than the camera sent. Empty when all is accounted for.
    std::string finish(const frame_counters& c, std::uint64_t camera_next) const
    {
        const std::string at = "at the end of the stream: ";
        if (c.delivered < last_counts_.delivered || c.sent() < last_counts_.sent() ||
            c.client_starvation < last_counts_.client_starvation) {
            return at + "a counter went down";
        }
        if (!base_ || holding_) {
            return {}; // starvation drops while holding count payloads, not frames
        }
        const auto next = static_cast<std::int64_t>(camera_next);
        if (floor_ >= next) {
            return at + "the counters said every frame up to " + n(floor_) + " was taken or dropped, but the camera " +
                   "sent frames up to " + n(next - 1) + ": a drop was counted that never happened";
        }
        // A stop may count the frame it cut twice, until a take pins `base` again.
        const std::int64_t h = *base_ + static_cast<std::int64_t>(c.sent());
        const auto twice = stop_may_count_twice * static_cast<std::int64_t>(restarts_);
        if (h > next + twice) {
            return at + "the counters say frames up to " + n(h - 1) + " were sent (" + n(c.sent()) + " from frame " +
                   n(*base_) + "), but the camera sent frames up to " + n(next - 1) +
                   ": a drop was counted that never happened";
        }
        return {};
    }

    std::uint64_t taken() const noexcept { return taken_; }
    // Frames missed between the first and the last taken.
    std::uint64_t missed() const noexcept { return missed_; }

private:
    static std::string n(std::uint64_t v) { return std::to_string(v); }
    static std::string n(std::int64_t v) { return std::to_string(v); }

    std::string check(std::uint64_t number, const frame_counters& c)
    {
        const std::string at = "frame " + n(number) + (has_last_ ? " after " + n(last_) : std::string()) + ": ";
        if (has_last_ && number <= last_) {
            return at + "the numbers do not rise";
        }
        if (c.delivered < last_counts_.delivered || c.sent() < last_counts_.sent() ||
            c.client_starvation < last_counts_.client_starvation) {
            return at + "a counter went down";
        }
        if (c.filter != 0 || c.unspecified != 0) {
            return at + n(c.filter) + " filter and " + n(c.unspecified) + " unspecified drops counted";
        }
        // Packet loss: what the test injected, and what a stop may cause.
        const std::uint64_t new_loss = c.packet_loss - last_counts_.packet_loss;
        if (restarts_ != 0) {
            loss_at_stops_ += new_loss;
            if (loss_at_stops_ > stop_may_cost_packets * restarts_) {
                return at + n(loss_at_stops_) + " packet-loss drops across " + n(restarts_) +
                       " restarts, a stop may cause " + n(stop_may_cost_packets);
            }
        } else {
            injected_loss_ += new_loss;
            if (injected_loss_ > loss_allowed_) {
                return at + n(injected_loss_) + " packet-loss drops counted while streaming, " + n(loss_allowed_) +
                       " injected";
            }
        }
        if (!holding_ && c.input_starvation != last_counts_.input_starvation) {
            return at + n(c.input_starvation - last_counts_.input_starvation) +
                   " input-buffer starvation drops while the client kept no more than one buffer";
        }
        // taken_ + 1 counts this frame.
        const std::uint64_t gone = c.client_starvation + taken_ + 1;
        if (c.delivered < gone || c.delivered - gone > 1) {
            return at + n(c.delivered) + " frames delivered, " + n(taken_ + 1) + " taken and " +
                   n(c.client_starvation) + " dropped by the channel: " +
                   (c.delivered < gone ? "more frames gone than delivered" : "a delivered frame vanished");
        }
        const bool waiting = c.delivered > gone;
        // Nothing waited, nothing waits, and the frame path dropped nothing
        // since the previous take: the frame taken is the last one sent.
        const bool only_frame_since = !waiting && !was_waiting_ && !holding_ &&
                                      c.sent() - c.delivered == last_counts_.sent() - last_counts_.delivered;
        const auto sent = static_cast<std::int64_t>(c.sent());
        const auto number_s = static_cast<std::int64_t>(number);
        std::string fault;
        if (base_ && !holding_ && restarts_ == 0) {
            const std::int64_t h = *base_ + sent; // one past the last frame sent
            const std::string sent_text = " (" + n(sent) + " sent from frame " + n(*base_) + ")";
            if (number_s >= h) {
                fault = at + "taken before the counters say the camera sent it" + sent_text +
                        ": a frame went missing uncounted";
            } else if (waiting && number_s + 1 >= h) {
                fault = at + "a frame waits after it, but the counters say none was sent after it" + sent_text +
                        ": a frame went missing uncounted";
            } else if (number_s <= floor_) {
                fault = at + "the counters said every frame up to " + n(floor_) +
                        " was taken or dropped: a drop was counted that never happened";
            } else if (was_waiting_ && number_s >= last_horizon_) {
                fault = at + "it waited at the previous take, but the counters then said the camera had sent " +
                        "only frames up to " + n(last_horizon_ - 1) + ": a frame went missing uncounted";
            } else if (only_frame_since && number_s + 1 != h) {
                fault = at + "it is the last frame sent, but the counters say frames up to " + n(h - 1) +
                        " were" + sent_text + ": a drop was counted that never happened";
            }
            if (was_waiting_) {
                floor_ = std::max(floor_, last_horizon_ - 1);
            }
            if (!waiting) {
                floor_ = std::max(floor_, h - 1);
            }
        } else if (restarts_ != 0 && number_s <= floor_) {
            // The floor the last takes before the stop set still holds: the
            // stop cannot bring back a frame they counted as dropped.
            fault = at + "the counters before the restart said every frame up to " + n(floor_) +
                    " was taken or dropped: a drop was counted that never happened";
        } else if (only_frame_since && !awaiting_run_) {
            // Pinned again after a start (as above, the frame taken is the
            // last one sent): what the stops in between lost uncounted, or
            // counted twice, is bounded.
            const std::int64_t pinned = number_s + 1 - sent;
            const auto stops = static_cast<std::int64_t>(restarts_);
            if (base_ && (pinned - *base_ > stop_may_lose * stops || *base_ - pinned > stop_may_count_twice * stops)) {
                fault = at + "across " + n(stops) + " restarts " +
                        (pinned > *base_ ? n(pinned - *base_) + " frames went missing uncounted"
                                         : n(*base_ - pinned) + " drops were counted that never happened") +
                        "; a stop may lose " + n(stop_may_lose) + " and count " + n(stop_may_count_twice) +
                        " twice";
            }
            base_ = pinned;
            floor_ = number_s;
            restarts_ = 0;
            loss_at_stops_ = 0;
        }
        was_waiting_ = waiting;
        last_horizon_ = base_ ? *base_ + sent : 0;
        return fault;
    }

    std::optional<std::int64_t> base_; // the number of the frame the counters start at
    std::uint64_t restarts_ = 0;       // since base_ was last pinned
    bool awaiting_run_ = false;        // restarted, no frame of the new run taken
    bool holding_ = false;
    std::uint64_t loss_allowed_ = 0;  // injected
    std::uint64_t injected_loss_ = 0; // counted while base_ was pinned
    std::uint64_t loss_at_stops_ = 0; // counted since the first restart not yet pinned
    bool has_last_ = false;
    std::uint64_t last_ = 0;
    frame_counters last_counts_;
    bool was_waiting_ = false;     // a frame waited after the previous take
    std::int64_t last_horizon_ = 0; // base_ + sent at the previous take
    std::int64_t floor_ = -1;       // every frame up to it was taken or dropped
    std::uint64_t taken_ = 0;
    std::uint64_t missed_ = 0;
};

} // namespace sim_camera
