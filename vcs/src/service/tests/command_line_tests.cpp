#include <gtest/gtest.h>

#include "service/command_line.h"

namespace {

using service::command_switch;
using service::parse_command_line;

struct case_row {
    const wchar_t* line;
    command_switch expected;
};

TEST(command_line, switches_follow_a_dash_or_slash_in_any_case_as_whole_words)
{
    const case_row rows[] = {
        {L"-RegServer", command_switch::reg_server},
        {L"/regserver", command_switch::reg_server},
        {L"/REGSERVER\t-x", command_switch::reg_server},
        {L"-UnregServer", command_switch::unreg_server},
        {L"/unregserver", command_switch::unreg_server},
        {L"-RegServerPerUser", command_switch::reg_server_per_user},
        {L"/UNREGSERVERPERUSER", command_switch::unreg_server_per_user},
        {L"-Service", command_switch::service},
        {L"/service", command_switch::service},
        {L"/SERVICE ", command_switch::service},
        {L"-Embedding", command_switch::none},
        {L"RegServer", command_switch::none},
        {L"Service", command_switch::none},
        {L"-RegServerX", command_switch::none},
        {L"/Services", command_switch::none},
        {L"-Reg Server", command_switch::none},
        {L"", command_switch::none},
        {L"-", command_switch::none},
        {L"/", command_switch::none},
    };
    for (const case_row& row : rows) {
        EXPECT_EQ(parse_command_line(row.line), row.expected) << std::string(row.line, row.line + wcslen(row.line));
    }
}

TEST(command_line, the_registration_group_wins_over_service_and_the_first_token_decides)
{
    EXPECT_EQ(parse_command_line(L"-Service -RegServer"), command_switch::reg_server);
    EXPECT_EQ(parse_command_line(L"/Service /UnregServerPerUser"), command_switch::unreg_server_per_user);
    EXPECT_EQ(parse_command_line(L"-UnregServer -RegServer"), command_switch::unreg_server);
    EXPECT_EQ(parse_command_line(L"-x -Service"), command_switch::service);
    EXPECT_EQ(parse_command_line(L"word-Service"), command_switch::service);
}

} // namespace
