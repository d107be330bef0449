#include "device_impl/device_impl_tools/frame_wrapper.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gen_utils/log.h"

namespace {

std::uint32_t load_le32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
           std::uint32_t{at[3]} << 24;
}

// A 4096-byte header and a small data area, every byte 0xAB to start with.
struct frame_fixture : ::testing::Test {
    static constexpr std::uint64_t header = 4096;
    static constexpr std::uint64_t capacity = 64;
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(header + capacity, 0xAB);
    cam::frame_wrapper frame;

    void SetUp() override
    {
        frame.id = 0x01020304;
        frame.size = 0x1'0000'1040; // only the low 32 bits reach the header
        frame.header_size = header;
        frame.capacity = capacity;
        frame.valid_data_size_ = 17;
        frame.offset = 3;
        frame.buffer = memory.data();
    }
};

TEST_F(frame_fixture, reset_rewrites_header_and_keeps_image_bytes)
{
    cam::frame_header_reset(frame, false);

    EXPECT_EQ(frame.valid_data_size_, 0u);
    EXPECT_EQ(frame.offset, 0u);
    EXPECT_EQ(load_le32(&memory[0]), 0x1040u);
    EXPECT_EQ(load_le32(&memory[4]), 0x01020304u);
    EXPECT_EQ(load_le32(&memory[8]), 4096u);
    EXPECT_EQ(load_le32(&memory[12]), 64u);
    for (std::size_t i = 16; i < cam::frame_header_used_size; ++i) {
        ASSERT_EQ(memory[i], 0) << "header byte " << i;
    }
    // The reserved rest of the header and the image stay as they were.
    EXPECT_EQ(memory[cam::frame_header_used_size], 0xAB);
    for (std::size_t i = header; i < memory.size(); ++i) {
        ASSERT_EQ(memory[i], 0xAB) << "image byte " << i;
    }
}

TEST_F(frame_fixture, reset_with_clear_zeroes_exactly_the_data_area)
{
    memory.push_back(0xCD); // one byte past the data area must survive
    frame.buffer = memory.data();
    cam::frame_header_reset(frame, true);

    for (std::size_t i = header; i < header + capacity; ++i) {
        ASSERT_EQ(memory[i], 0) << "image byte " << i;
    }
    EXPECT_EQ(memory.back(), 0xCD);
    EXPECT_EQ(memory[cam::frame_header_used_size], 0xAB);
}

TEST_F(frame_fixture, clear_of_an_empty_data_area_writes_only_the_header)
{
    frame.capacity = 0;
    cam::frame_header_reset(frame, true);
    EXPECT_EQ(load_le32(&memory[12]), 0u);
    EXPECT_EQ(memory[header], 0xAB);
}

struct captured_log : ::testing::Test {
    std::vector<std::string> lines;
    void SetUp() override
    {
        service_log_level = 1;
        set_log_sink(1, [this](std::uint32_t, const char* text) { lines.emplace_back(text); });
    }
    void TearDown() override
    {
        set_log_sink(1, nullptr);
        service_log_level = 0;
    }
};

TEST_F(captured_log, missing_buffer_resets_counters_writes_nothing_and_logs)
{
    cam::frame_wrapper frame;
    frame.id = 9;
    frame.header_size = 4096;
    frame.capacity = 64;
    frame.valid_data_size_ = 5;
    frame.offset = 2;
    cam::frame_header_reset(frame, true);

    EXPECT_EQ(frame.valid_data_size_, 0u);
    EXPECT_EQ(frame.offset, 0u);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("cam::frame_header_reset, Failed"), std::string::npos);
}

TEST_F(captured_log, header_shorter_than_its_values_is_left_untouched)
{
    std::vector<std::uint8_t> small(100, 0xAB);
    cam::frame_wrapper frame;
    frame.header_size = small.size();
    frame.buffer = small.data();
    frame.valid_data_size_ = 5;
    cam::frame_header_reset(frame, true);

    EXPECT_EQ(frame.valid_data_size_, 0u);
    for (auto byte : small) {
        ASSERT_EQ(byte, 0xAB);
    }
    EXPECT_EQ(lines.size(), 1u);
}

} // namespace
