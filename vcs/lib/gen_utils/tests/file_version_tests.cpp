#include "gen_utils/file_version.h"

#include <gtest/gtest.h>

#include "gen_utils/string_conv.h"

namespace {

TEST(file_version, of_this_executable_comes_from_its_version_block)
{
    const utils::file_version version = utils::get_module_file_version();
    EXPECT_EQ(version, (utils::file_version{1, 2, 3, 4}));
    EXPECT_EQ(version.packed(), 0x0001000200030004ull);
}

TEST(file_version, is_zero_without_a_version_block_or_a_file)
{
    std::wstring path = L"Z:" + utils::to_utf16(OPEN_NAMED_EVENT_EXE);
    for (auto& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    EXPECT_EQ(utils::get_file_version(path), utils::file_version{});
    EXPECT_EQ(utils::get_file_version(L"C:\\no\\such\\file.exe"), utils::file_version{});
}

} // namespace
