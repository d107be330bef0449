// Handler keys, levels, the registry's routing and its load/save walk.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_impl/device_impl_tools/propset.h"
#include "memory_property_store.h"

namespace {

using cam::property_req_key;

constexpr HRESULT not_served = E_NOTIMPL;

HRESULT hr_of(const std::error_code& ec)
{
    return cam::to_hresult(ec);
}

// A handler that answers with a fixed code and records what reached it.
class recording_handler final : public cam::property_req_entry_itf {
public:
    explicit recording_handler(std::string tag, std::vector<std::string>* journal = nullptr)
        : tag_(std::move(tag)), journal_(journal)
    {
    }
    bool get = true;
    bool set = true;
    std::error_code support_result;
    int gets = 0;
    int sets = 0;

    std::error_code query_support(bool& g, bool& s) override
    {
        g = get;
        s = set;
        return support_result;
    }
    std::error_code get_request(KsPropDataRequest&) override
    {
        ++gets;
        return {};
    }
    std::error_code set_request(KsPropDataRequest&) override
    {
        ++sets;
        return {};
    }
    void load_value(utils::property_store_itf&) override { note("load"); }
    void save_value(utils::property_store_itf&) override { note("save"); }
    void reapply_value() override { note("reapply"); }

private:
    void note(const char* what)
    {
        if (journal_ != nullptr) {
            journal_->push_back(std::string(what) + " " + tag_);
        }
    }
    std::string tag_;
    std::vector<std::string>* journal_;
};

KsPropDataRequest request_for(const property_req_key& key, std::uint32_t type = KsPropDataRequest::get)
{
    KsPropDataRequest request;
    request.request_type = type;
    request.property_set = key.property_set;
    request.property_id = key.property_id;
    return request;
}

TEST(property_req_key, orders_by_guid_fields_unsigned_data4_bytes_then_id)
{
    const GUID base = {0x10000000, 0x1000, 0x1000, {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10}};
    auto with = [&](auto change) {
        GUID g = base;
        change(g);
        return g;
    };
    struct row {
        const char* what;
        property_req_key lower;
        property_req_key higher;
    };
    const row rows[] = {
        {"Data1 unsigned", {base, 9}, {with([](GUID& g) { g.Data1 = 0x90000000; }), 0}},
        {"Data1 before Data2", {with([](GUID& g) { g.Data2 = 0xFFFF; }), 0}, {with([](GUID& g) { g.Data1 += 1; }), 0}},
        {"Data2 before Data3", {with([](GUID& g) { g.Data3 = 0xFFFF; }), 0}, {with([](GUID& g) { g.Data2 += 1; }), 0}},
        {"Data3 before Data4", {with([](GUID& g) { g.Data4[0] = 0xFF; }), 0}, {with([](GUID& g) { g.Data3 += 1; }), 0}},
        {"Data4 bytes unsigned", {with([](GUID& g) { g.Data4[3] = 0x7F; }), 0},
         {with([](GUID& g) { g.Data4[3] = 0x80; }), 0}},
        {"earlier Data4 byte first", {with([](GUID& g) { g.Data4[7] = 0xFF; }), 0},
         {with([](GUID& g) { g.Data4[6] = 0x11; }), 0}},
        {"GUID before id", {base, 0xFFFFFFFF}, {with([](GUID& g) { g.Data4[7] = 0x11; }), 0}},
        {"id unsigned", {base, 1}, {base, 0x80000000}},
    };
    for (const auto& r : rows) {
        EXPECT_TRUE(r.lower < r.higher) << r.what;
        EXPECT_FALSE(r.higher < r.lower) << r.what;
        EXPECT_FALSE(r.lower == r.higher) << r.what;
    }
    EXPECT_TRUE((property_req_key{base, 4} == property_req_key{base, 4}));
}

TEST(property_req_table, a_lookup_answers_the_highest_position_not_above_its_level)
{
    cam::property_req_table table;
    recording_handler low("low"), middle("middle"), top("top");
    const property_req_key key{cam::PROPSETID_FWCAM1394_CUSTOM_PROP, 118};
    EXPECT_EQ(table.find(key, 2), nullptr);

    auto& positions = table.find_or_insert(key);
    EXPECT_EQ(positions, (cam::property_req_table::positions{}));
    positions[0] = &low;
    positions[1] = &middle;
    EXPECT_EQ(table.find(key, 2), &middle);
    EXPECT_EQ(table.find(key, 1), &middle);
    EXPECT_EQ(table.find(key, 0), &low);
    EXPECT_EQ(table.find({key.property_set, 119}, 2), nullptr);

    positions[2] = &top;
    EXPECT_EQ(table.find(key, 2), &top);
    EXPECT_EQ(table.find(key, 7), &top); // read as level 2
    positions[0] = nullptr;
    positions[2] = nullptr;
    EXPECT_EQ(table.find(key, 0), nullptr);
}

TEST(gen_property_reqistry, requests_go_to_the_level_asked_for_and_missing_keys_are_not_served)
{
    gen_property::gen_property_reqistry registry;
    recording_handler base("base"), extension("extension");
    const property_req_key key{cam::PROPSETID_FWCAM1394_CUSTOM_PROP, 0x100004};
    ASSERT_FALSE(registry.register_handler(key, &base, cam::level_base));
    ASSERT_FALSE(registry.register_handler(key, &extension, cam::level_extension));

    auto get = request_for(key);
    EXPECT_FALSE(registry.get_request(get, cam::level_override));
    auto set = request_for(key, KsPropDataRequest::set);
    EXPECT_FALSE(registry.set_request(set, cam::level_override));
    EXPECT_EQ(extension.gets, 1);
    EXPECT_EQ(extension.sets, 1);
    // How an extension handler passes a request down.
    EXPECT_FALSE(registry.get_request(get, cam::level_base));
    EXPECT_EQ(base.gets, 1);

    auto other = request_for({key.property_set, 5});
    EXPECT_EQ(hr_of(registry.get_request(other, cam::level_override)), not_served);
    EXPECT_EQ(hr_of(registry.set_request(other, cam::level_override)), not_served);

    EXPECT_EQ(hr_of(registry.register_handler(key, &base, 3)), E_INVALIDARG);
    EXPECT_EQ(registry.table().find(key, 2), &extension);
    // Registering again replaces; null clears.
    ASSERT_FALSE(registry.register_handler(key, nullptr, cam::level_extension));
    EXPECT_EQ(registry.table().find(key, 2), &base);
}

TEST(gen_property_reqistry, is_supported_needs_a_handler_that_supports_get_or_set)
{
    gen_property::gen_property_reqistry registry;
    recording_handler handler("h");
    const property_req_key key{cam::PROPSETID_COLOR_ENHANCE, 11};
    EXPECT_FALSE(registry.is_supported(key));
    registry.register_handler(key, &handler, cam::level_override);

    struct row {
        bool get;
        bool set;
        HRESULT result;
        bool supported;
    };
    const row rows[] = {
        {true, true, S_OK, true},   {true, false, S_OK, true},  {false, true, S_OK, true},
        {false, false, S_OK, false}, {true, true, E_FAIL, false},
    };
    for (const auto& r : rows) {
        handler.get = r.get;
        handler.set = r.set;
        handler.support_result = r.result == S_OK ? std::error_code{} : make_cam_error(r.result);
        EXPECT_EQ(registry.is_supported(key), r.supported) << r.get << r.set << r.result;
    }
}

TEST(gen_property_reqistry, a_function_entry_reports_and_refuses_what_it_lacks)
{
    gen_property::gen_property_reqistry registry;
    const property_req_key get_only{cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 20};
    const property_req_key neither{cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 21};
    int gets = 0;
    registry.table().add_function_entry(get_only, [&](KsPropDataRequest&) {
        ++gets;
        return std::error_code{};
    }, nullptr);
    registry.table().add_function_entry(neither, nullptr, nullptr);

    EXPECT_TRUE(registry.is_supported(get_only));
    EXPECT_FALSE(registry.is_supported(neither));
    auto get = request_for(get_only);
    EXPECT_FALSE(registry.get_request(get, cam::level_override));
    EXPECT_EQ(gets, 1);
    // The absent callable answers "not served" rather than throwing.
    auto set = request_for(get_only, KsPropDataRequest::set);
    EXPECT_EQ(hr_of(registry.set_request(set, cam::level_override)), not_served);
    auto nothing = request_for(neither);
    EXPECT_EQ(hr_of(registry.get_request(nothing, cam::level_override)), not_served);
}

TEST(gen_property_reqistry, load_and_save_walk_keys_in_order_and_positions_two_one_zero)
{
    std::vector<std::string> journal;
    recording_handler a("a", &journal), b("b", &journal), c("c", &journal), shared("shared", &journal);
    gen_property::gen_property_reqistry registry(std::make_shared<fake_devices::memory_property_store>());
    const GUID first = {0x00000001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    const GUID second = {0x00000001, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0x80}};
    // Registered out of order: the walk is by key, not by registration.
    registry.register_handler({second, 1}, &c, 0);
    registry.register_handler({first, 7}, &a, 0);
    registry.register_handler({first, 7}, &b, 2);
    registry.register_handler({first, 7}, &shared, 1);
    const property_req_key shared_keys[] = {{second, 0}, {first, 8}};
    registry.register_handler_keys(shared_keys, &shared, 2);

    registry.load_values();
    EXPECT_EQ(journal, (std::vector<std::string>{"load b", "load shared", "load a", "load shared", "load shared",
                                                 "load c"}));
    journal.clear();
    registry.save_values();
    EXPECT_EQ(journal, (std::vector<std::string>{"save b", "save shared", "save a", "save shared", "save shared",
                                                 "save c"}));
    journal.clear();
    registry.reapply_values();
    EXPECT_EQ(journal.size(), 6u);
    EXPECT_EQ(journal.front(), "reapply b");

    // Without a store there is nothing to load from or save to.
    gen_property::gen_property_reqistry storeless;
    storeless.register_handler({first, 7}, &a, 0);
    journal.clear();
    storeless.load_values();
    storeless.save_values();
    EXPECT_TRUE(journal.empty());
}

} // namespace
