// The backward walk over chunk trailers: well-formed frames, and trailers
// whose lengths reach outside the frame.

#include "device_impl/cam_tovra/chunk_trailers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

void append_le32(bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

void append_chunk(bytes& out, std::uint32_t id, const bytes& data)
{
    out.insert(out.end(), data.begin(), data.end());
    append_le32(out, id);
    append_le32(out, static_cast<std::uint32_t>(data.size()));
}

// (id, offset into the frame, length) of every visited chunk.
struct visit_log {
    std::vector<std::tuple<std::uint32_t, std::size_t, std::size_t>> seen;
    std::size_t walked = 0;
};

visit_log walk(bytes& frame)
{
    visit_log log;
    log.walked = cam::impl::walk_chunk_trailers(frame, [&](const cam::impl::chunk_view& c) {
        log.seen.emplace_back(c.id, static_cast<std::size_t>(c.data.data() - frame.data()), c.data.size());
    });
    return log;
}

TEST(chunk_trailers, image_and_block_id_are_visited_last_first)
{
    bytes frame;
    append_chunk(frame, 0xA0, bytes(100, 0x11));
    append_chunk(frame, 1, {7, 0, 0, 0, 0, 0, 0, 0});
    const visit_log log = walk(frame);
    EXPECT_EQ(log.walked, 2u);
    ASSERT_EQ(log.seen.size(), 2u);
    EXPECT_EQ(log.seen[0], std::make_tuple(1u, std::size_t{108}, std::size_t{8}));
    EXPECT_EQ(log.seen[1], std::make_tuple(0xA0u, std::size_t{0}, std::size_t{100}));
}

TEST(chunk_trailers, empty_chunks_and_leading_bytes_without_trailer)
{
    bytes frame(5, 0xEE); // too short to be a trailer: the walk ends there
    append_chunk(frame, 3, {});
    append_chunk(frame, 4, {1, 2});
    const visit_log log = walk(frame);
    EXPECT_EQ(log.walked, 2u);
    ASSERT_EQ(log.seen.size(), 2u);
    EXPECT_EQ(log.seen[1], std::make_tuple(3u, std::size_t{5}, std::size_t{0}));
}

TEST(chunk_trailers, lengths_reaching_before_the_frame_stop_the_walk)
{
    bytes frame;
    append_chunk(frame, 0xA0, bytes(64, 0x22));
    append_chunk(frame, 1, bytes(8, 0));
    const std::size_t size = frame.size(); // 88
    struct case_ {
        std::uint32_t length; // written into the last trailer
        std::size_t walked;
    } cases[] = {
        {static_cast<std::uint32_t>(size - 8), 1},  // the whole frame before the trailer: still inside
        {static_cast<std::uint32_t>(size - 7), 0},  // one byte before the frame
        {static_cast<std::uint32_t>(size - 1), 0},  // between the bytes left and the frame's size
        {static_cast<std::uint32_t>(size), 0},
        {0xFFFFFFFFu, 0},                           // would wrap in 32-bit arithmetic
        {0xFFFFFFF8u, 0},
    };
    for (const auto& c : cases) {
        bytes f = frame;
        for (int i = 0; i < 4; ++i) {
            f[size - 4 + i] = static_cast<std::uint8_t>(c.length >> (8 * i));
        }
        const visit_log log = walk(f);
        EXPECT_EQ(log.walked, c.walked) << c.length;
        for (const auto& [id, offset, length] : log.seen) {
            EXPECT_LE(offset + length, size) << c.length;
        }
    }
}

TEST(chunk_trailers, an_inner_trailer_reaching_too_far_ends_the_walk_after_the_good_ones)
{
    bytes frame;
    append_chunk(frame, 0xA0, bytes(16, 0x33));
    append_chunk(frame, 1, bytes(8, 0));
    // The image chunk's trailer claims 17 bytes where 16 are.
    frame[16 + 4] = 17;
    const visit_log log = walk(frame);
    EXPECT_EQ(log.walked, 1u);
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(std::get<0>(log.seen[0]), 1u);
}

TEST(chunk_trailers, frames_shorter_than_a_trailer_walk_nothing)
{
    for (std::size_t n = 0; n < 8; ++n) {
        bytes frame(n, 0);
        EXPECT_EQ(walk(frame).walked, 0u) << n;
    }
    bytes zeros(8, 0); // one empty chunk of id 0
    EXPECT_EQ(walk(zeros).walked, 1u);
}

} // namespace
