#include "genicam/iinteger.h"
#include "genicam/ieval.h"
#include "genicam/node_base_data.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using genicam_test::count_of;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::access_mode;
using GenICam::errc;
namespace flags = GenICam::access_flags;

GenICam::IInteger& integer(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* node = dynamic_cast<GenICam::IInteger*>(doc.find_node(name));
    EXPECT_NE(node, nullptr) << name;
    return *node;
}

TEST(node_model, access_modes_combine_with_the_value_target)
{
    const struct {
        const char* own;
        const char* target;
        access_mode expected;
    } cases[] = {
        {"RW", "RW", access_mode::RW}, {"RO", "RW", access_mode::RO}, {"RW", "WO", access_mode::WO},
        {"RO", "WO", access_mode::NA}, {"WO", "RO", access_mode::NA}, {"RO", "RO", access_mode::RO},
    };
    for (const auto& c : cases) {
        auto doc = load_nodes(std::string("<Integer Name=\"Link\"><pValue>T</pValue><ImposedAccessMode>") + c.own +
                              "</ImposedAccessMode></Integer><Integer Name=\"T\"><Value>0</Value>"
                              "<ImposedAccessMode>" +
                              c.target + "</ImposedAccessMode></Integer>");
        EXPECT_EQ(doc->find_node("Link")->get_access_mode(), c.expected) << c.own << " over " << c.target;
    }
}

TEST(node_model, check_access_answers_implemented_available_and_mode_in_that_order)
{
    auto doc = load_nodes(R"(<Integer Name="Zero"><Value>0</Value></Integer>
        <Integer Name="One"><Value>1</Value></Integer>
        <String Name="Str"><Value>0</Value></String>
        <Integer Name="NotImpl"><Value>1</Value><pIsImplemented>Zero</pIsImplemented>
            <pIsAvailable>Zero</pIsAvailable></Integer>
        <Integer Name="NotAvail"><Value>1</Value><pIsAvailable>Zero</pIsAvailable>
            <ImposedAccessMode>WO</ImposedAccessMode></Integer>
        <Integer Name="StrCond"><Value>1</Value><pIsAvailable>Str</pIsAvailable></Integer>
        <Integer Name="Locked"><Value>1</Value><pIsLocked>One</pIsLocked></Integer>
        <Integer Name="Ro"><Value>1</Value><ImposedAccessMode>RO</ImposedAccessMode><Min>0</Min></Integer>)");
    EXPECT_EQ(integer(*doc, "NotImpl").set_val(2, 0), errc::not_implemented);
    EXPECT_EQ(integer(*doc, "NotAvail").get_val(0).error(), errc::node_not_available);
    EXPECT_FALSE(integer(*doc, "NotAvail").is_available());
    EXPECT_TRUE(integer(*doc, "StrCond").is_available()) << "a String condition is not accepted";
    EXPECT_TRUE(integer(*doc, "Locked").is_locked());
    EXPECT_FALSE(integer(*doc, "Locked").set_val(5, 0)) << "the lock only reports";
    EXPECT_FALSE(integer(*doc, "One").is_locked());
    EXPECT_EQ(integer(*doc, "NotImpl").set_val(2, flags::skip_access_check), std::error_code{});
}

TEST(node_model, register_access_mode_never_widens_the_imposed_one)
{
    log_capture log;
    auto doc = load_nodes(R"(<Integer Name="Ro"><Value>1</Value><ImposedAccessMode>RO</ImposedAccessMode></Integer>
        <Integer Name="Rw"><Value>1</Value></Integer>)");
    auto& ro = dynamic_cast<GenICam::impl::node_base_data&>(doc->find_node("Ro")->get_eval());
    ro.set_actual_access_mode(access_mode::WO);
    ro.set_actual_access_mode(access_mode::RW);
    EXPECT_EQ(ro.access, access_mode::RO);
    auto& rw = dynamic_cast<GenICam::impl::node_base_data&>(doc->find_node("Rw")->get_eval());
    rw.set_actual_access_mode(access_mode::WO);
    EXPECT_EQ(rw.access, access_mode::WO);
    EXPECT_EQ(count_of(log.text(), "GenICam::impl::node_base_data::set_actual_access_mode, Integer (\"Ro\"). Trying to "
                                   "change access mode from ImposedAccessMode == RO to WO.\n"),
              1u);
}

TEST(node_model, descriptive_elements_read_with_their_defaults)
{
    log_capture log;
    auto doc = load_nodes(R"(<Integer Name="N" NameSpace="Standard" MergePriority="1" ExposeStatic="No">
        <Value>0</Value><Visibility>expert</Visibility><DisplayName></DisplayName><ToolTip>tip</ToolTip>
        <IsDeprecated>yes</IsDeprecated><Streamable>Yes</Streamable><EventID> -1A</EventID>
        <Extension><VCDItemGUID>{G}</VCDItemGUID><Other>o</Other></Extension><pAlias>M</pAlias>
        <pSelected>M</pSelected><pSelected>Missing</pSelected></Integer>
        <Integer Name="M" MergePriority="+1"><Value>0</Value><Visibility>Guru</Visibility>
        <DisplayName>Emm</DisplayName><EventID>zz</EventID></Integer>)");
    GenICam::INode& n = *doc->find_node("N");
    EXPECT_EQ(n.get_visibility(), GenICam::visibility::Beginner);
    EXPECT_EQ(n.get_display_name(), "N");
    EXPECT_EQ(n.get_tool_tip(), "tip");
    EXPECT_FALSE(n.is_deprecated());
    EXPECT_TRUE(n.get_streamable());
    EXPECT_EQ(n.get_event_id(), -0x1A);
    EXPECT_EQ(n.get_name_space(), GenICam::name_space::Standard);
    EXPECT_EQ(n.get_merge_priority(), GenICam::merge_priority::normal);
    EXPECT_EQ(n.get_expose_static(), false);
    EXPECT_EQ(n.get_extension("VCDItemGUID"), "{G}");
    EXPECT_EQ(n.get_extension("Missing"), "");
    ASSERT_EQ(n.get_extensions().size(), 2u);
    EXPECT_EQ(n.get_extensions()[1].name, "Other");
    EXPECT_EQ(n.get_alias(), doc->find_node("M"));
    EXPECT_EQ(integer(*doc, "N").get_selected_features().size(), 1u);
    GenICam::INode& m = *doc->find_node("M");
    EXPECT_EQ(m.get_visibility(), GenICam::visibility::Guru);
    EXPECT_EQ(m.get_display_name(), "Emm");
    EXPECT_FALSE(m.get_event_id().has_value());
    EXPECT_EQ(m.get_merge_priority(), GenICam::merge_priority::high);
    EXPECT_FALSE(m.get_expose_static().has_value());
    EXPECT_EQ(doc->streamable_nodes().size(), 1u);
    const std::string lines = log.text();
    EXPECT_EQ(count_of(lines, "GenICam::impl::node_base_data::getVisibility, Integer (\"N\"). Failed to parse "
                              "\"Visibility\" xml node contents (\"expert\").\n"),
              1u)
        << lines;
    EXPECT_EQ(count_of(lines, "Failed to resolve \"pSelected\" xml node contents (\"Missing\").\n"), 1u);
}

TEST(node_model, dependents_form_the_transitive_closure)
{
    auto doc = load_nodes(R"(<Integer Name="A"><Value>0</Value></Integer>
        <Integer Name="B"><pValue>A</pValue></Integer>
        <Integer Name="C"><Value>0</Value><pMin>B</pMin></Integer>
        <Integer Name="D"><Value>0</Value><pInvalidator>C</pInvalidator><pInvalidator>Nope</pInvalidator></Integer>
        <Category Name="Cat"/>)");
    EXPECT_EQ(doc->find_node("A")->get_eval().dependent_count(), 3) << "B, C and through C, D";
    EXPECT_EQ(doc->find_node("B")->get_eval().dependent_count(), 0);
    EXPECT_EQ(doc->find_node("Cat")->get_eval().dependent_count(), -1);
    int d_fired = 0;
    doc->find_node("D")->register_callback([&](GenICam::INode&) { ++d_fired; });
    ASSERT_FALSE(integer(*doc, "A").set_val(5, 0));
    EXPECT_EQ(d_fired, 1);
}

TEST(node_model, a_large_closure_lists_every_reachable_node_once)
{
    // Three layers under R, with two paths to every node of the last one:
    // the closure grows past what its first table holds and meets every
    // node of the last layer twice.
    std::string xml = R"(<Integer Name="R"><Value>0</Value></Integer>)";
    std::vector<std::string> reachable;
    const auto add = [&](const std::string& name, const std::string& links) {
        xml += "<Integer Name=\"" + name + "\"><Value>0</Value>" + links + "</Integer>";
        reachable.push_back(name);
    };
    for (int i = 0; i < 10; ++i) {
        add("A" + std::to_string(i), "<pMin>R</pMin>");
    }
    for (int j = 0; j < 30; ++j) {
        add("B" + std::to_string(j), "<pMin>A" + std::to_string(j % 10) + "</pMin>");
    }
    for (int k = 0; k < 30; ++k) {
        add("C" + std::to_string(k),
            "<pMin>B" + std::to_string(k) + "</pMin><pMax>A" + std::to_string(k % 10) + "</pMax>");
    }
    auto doc = load_nodes(xml);
    std::vector<std::string> listed;
    for (GenICam::impl::IEval* eval : doc->find_node("R")->get_eval().get_dependents()) {
        for (const std::string& name : reachable) {
            if (&doc->find_node(name)->get_eval() == eval) {
                listed.push_back(name);
            }
        }
    }
    ASSERT_EQ(listed.size(), reachable.size());
    std::sort(listed.begin(), listed.end());
    std::sort(reachable.begin(), reachable.end());
    EXPECT_EQ(listed, reachable);
    EXPECT_EQ(doc->find_node("A3")->get_eval().dependent_count(), 6) << "B3, B13, B23 and C3, C13, C23, each once";
}

TEST(node_model, dependents_and_resolve_messages_follow_name_order_whatever_the_document_order)
{
    log_capture log;
    auto doc = load_nodes(R"(<Integer Name="Zed"><pValue>Target</pValue><pMin>Missing</pMin></Integer>
        <IntSwissKnife Name="Mid"><pVariable Name="T">Target</pVariable><Formula>T</Formula>
            <pInvalidator>Gone</pInvalidator></IntSwissKnife>
        <Integer Name="Alpha"><pValue>Target</pValue><pMin>Missing</pMin></Integer>
        <Integer Name="Target"><Value>1</Value><pInvalidator>Nowhere</pInvalidator></Integer>)");
    const std::string lines = log.text();
    std::vector<std::string> dependents;
    for (GenICam::impl::IEval* eval : doc->find_node("Target")->get_eval().get_dependents()) {
        for (const char* name : {"Alpha", "Mid", "Zed"}) {
            if (&doc->find_node(name)->get_eval() == eval) {
                dependents.emplace_back(name);
            }
        }
    }
    EXPECT_EQ(dependents, (std::vector<std::string>{"Alpha", "Mid", "Zed"}));
    const std::size_t alpha = lines.find("\"Alpha\"");
    const std::size_t mid = lines.find("\"Mid\"");
    const std::size_t target = lines.find("\"Target\"");
    const std::size_t zed = lines.find("\"Zed\"");
    ASSERT_NE(zed, std::string::npos) << lines;
    EXPECT_LT(alpha, mid) << lines;
    EXPECT_LT(mid, target) << lines;
    EXPECT_LT(target, zed) << lines;
}

// A selector change drops the cache of every register that depends on it
// before the first callback runs: the first register's callback reads the
// second and must get the bytes the device holds after the change.
TEST(node_model, a_callback_reads_every_other_dependent_as_it_is_after_the_change)
{
    genicam_test::memory_device_port device;
    auto doc = load_nodes(std::string(genicam_test::device_port) + R"(
        <Integer Name="Selector"><Value>0</Value></Integer>
        <IntReg Name="First"><Address>0x10</Address><Length>1</Length><Cachable>WriteThrough</Cachable>
          <pInvalidator>Selector</pInvalidator></IntReg>
        <IntReg Name="Second"><Address>0x20</Address><Length>1</Length><Cachable>WriteThrough</Cachable>
          <pInvalidator>Selector</pInvalidator></IntReg>)");
    genicam_test::bind_device(*doc, device);
    GenICam::impl::IEval& first_eval = doc->find_node("First")->get_eval();
    GenICam::impl::IEval& second_eval = doc->find_node("Second")->get_eval();
    const auto listed = doc->find_node("Selector")->get_eval().get_dependents();
    ASSERT_EQ(std::vector<GenICam::impl::IEval*>(listed.begin(), listed.end()),
              (std::vector<GenICam::impl::IEval*>{&first_eval, &second_eval}));

    GenICam::IInteger& first = integer(*doc, "First");
    GenICam::IInteger& second = integer(*doc, "Second");
    device.put(0x10, {1});
    device.put(0x20, {2});
    ASSERT_EQ(first.get_val(0).value(), 1);
    ASSERT_EQ(second.get_val(0).value(), 2);

    std::vector<std::int64_t> seen_by_first;
    std::vector<std::int64_t> seen_by_second;
    first.register_callback([&](GenICam::INode&) { seen_by_first.push_back(second.get_val(0).value()); });
    second.register_callback([&](GenICam::INode&) { seen_by_second.push_back(second.get_val(0).value()); });
    device.put(0x20, {22}); // what the register holds under the next selector value
    ASSERT_FALSE(integer(*doc, "Selector").set_val(1, 0));
    EXPECT_EQ(seen_by_first, std::vector<std::int64_t>{22});
    EXPECT_EQ(seen_by_second, std::vector<std::int64_t>{22});
    EXPECT_EQ(first.get_val(0).value(), 1);
}

TEST(node_model, callbacks_fire_in_order_from_a_snapshot)
{
    auto doc = load_nodes(R"(<Integer Name="A"><Value>0</Value></Integer>)");
    GenICam::INode& a = *doc->find_node("A");
    std::vector<int> order;
    a.register_callback([&](GenICam::INode&) {
        order.push_back(1);
        a.deregister_callbacks();
        a.register_callback([&](GenICam::INode&) { order.push_back(3); });
    });
    a.register_callback([&](GenICam::INode&) { order.push_back(2); });
    ASSERT_FALSE(integer(*doc, "A").set_val(1, 0));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    ASSERT_FALSE(integer(*doc, "A").set_val(2, 0));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(node_model, callbacks_that_write_back_end_at_the_bound)
{
    log_capture log;
    auto doc = load_nodes(R"(<Integer Name="A"><Value>0</Value></Integer>)");
    GenICam::IInteger& a = integer(*doc, "A");
    int fired = 0;
    a.register_callback([&](GenICam::INode&) {
        ++fired;
        if (const auto current = a.get_val(0)) {
            (void)a.set_val(current.value() + 1, 0);
        }
    });
    ASSERT_FALSE(a.set_val(1, 0));
    EXPECT_GT(fired, 1);
    EXPECT_LT(fired, 100);
}

} // namespace
