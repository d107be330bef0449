#pragma once
// Accounting of the frames a client takes from one stream channel of the
// simulated camera. The camera numbers every frame it sends, from 0, and the
// image carries that number. A client that falls behind rightly misses
// frames, but every frame it missed must have been counted as dropped: the
// frame path counts a drop before it hands out any later frame, so the drop
// counters that come with frame n cover every frame before n that the client
// never got. A frame that went missing uncounted, or a number that does not
// rise, is a fault. Only across a stop of the stream may frames vanish.

#include <cstdint>
#include <optional>
#include <string>

namespace sim_camera {

class frame_accounting {
public:
    // `first` is the number of the first frame the camera sends into this
    // channel (0 for a camera that never streamed before). Without it, frames
    // before the first one taken are not accounted for.
    explicit frame_accounting(std::optional<std::uint64_t> first = 0)
        : next_(first.value_or(0)), known_(first.has_value())
    {
    }

    // A frame taken with the number it carries and the sum of every drop
    // counter handed out with it; empty when all is accounted for, otherwise
    // what is wrong.
    std::string take(std::uint64_t number, std::uint64_t dropped)
    {
        if (!known_) {
            known_ = true;
            next_ = number;
        }
        if (number < next_) {
            return "frame " + std::to_string(number) + " after frame " + std::to_string(next_ - 1) +
                   ": the numbers do not rise";
        }
        missed_ += number - next_;
        next_ = number + 1;
        ++taken_;
        if (dropped < missed_) {
            return std::to_string(missed_) + " frames before frame " + std::to_string(number) +
                   " never arrived, but only " + std::to_string(dropped) + " drops were counted";
        }
        return {};
    }

    // The camera's stream was stopped and started again (its own frame
    // numbering restarted): frames that were in flight when the stop
    // cancelled their transfers never arrive and are not counted, so
    // accounting goes on from the next frame taken.
    void restart() noexcept { known_ = false; }

    std::uint64_t taken() const noexcept { return taken_; }
    std::uint64_t missed() const noexcept { return missed_; }

private:
    std::uint64_t next_;
    bool known_;
    std::uint64_t missed_ = 0;
    std::uint64_t taken_ = 0;
};

} // namespace sim_camera
