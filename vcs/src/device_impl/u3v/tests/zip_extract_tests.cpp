// The archive reader over archives it did not write, under the sanitizers.

#include "device_impl/u3v/zip_extract.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <system_error>

namespace {

std::vector<std::uint8_t> file_bytes(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(zip_extract, reads_the_one_entry_of_an_archive_made_by_another_tool)
{
    const auto archive = file_bytes(SIM_DESCRIPTION_ZIP);
    const auto xml = file_bytes(SIM_DESCRIPTION_XML);
    std::string name;
    std::vector<std::uint8_t> bytes;
    ASSERT_TRUE(u3v_com::zip_extract_single_file(archive.data(), archive.size(), name, bytes));
    EXPECT_EQ(name, "CamTovraSim_GenICam.xml");
    EXPECT_EQ(bytes, xml);
}

TEST(zip_extract, damaged_archives_leave_the_outputs_untouched)
{
    const auto archive = file_bytes(SIM_DESCRIPTION_ZIP);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"empty", {}},
        {"cut before its directory", {archive.begin(), archive.begin() + archive.size() / 2}},
        {"cut in its end record", {archive.begin(), archive.end() - 5}},
        {"one byte", {archive.begin(), archive.begin() + 1}},
        {"compressed data changed",
         [&] {
             auto b = archive;
             b[60] ^= 0x55;
             return b;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string name = "kept";
        std::vector<std::uint8_t> bytes{7};
        EXPECT_FALSE(u3v_com::zip_extract_single_file(c.bytes.data(), c.bytes.size(), name, bytes));
        EXPECT_EQ(name, "kept");
        EXPECT_EQ(bytes, std::vector<std::uint8_t>{7});

        std::vector<std::uint8_t> file{1, 2, 3};
        EXPECT_EQ(u3v_com::extract_manifest_file(c.bytes, file, std::generic_category()).value(),
                  static_cast<int>(0x80070057));
        EXPECT_EQ(file, (std::vector<std::uint8_t>{1, 2, 3}));
    }
}

} // namespace
