// Fetching the camera's GenICam documents, building descriptors from them and
// the adapter as the documents' register port.

#include "genicam_fixture.h"

#include "propertypage/genicam_hresult.h"
#include "propertypage/genicam_propdata_named.h"
#include "propertypage/genicam_propdata_portbased.h"

#include "genicam/genicam_error.h"
#include "genicam/inode.h"

namespace pp_test {
namespace {

using genicam_adapter::genicam_to_hresult;
using genicam_adapter::hresult_to_genicam;

// The instance data {selector, index} of every call of `id`.
std::vector<std::pair<std::uint32_t, std::uint32_t>> document_requests(const test_filter::scripted_backend& backend,
                                                                       DWORD id)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> found;
    for (const auto& call : backend.calls()) {
        if (!call.is_set && call.id == id && IsEqualGUID(call.set, cam::PROPSETID_GENERIC_DRIVER_INTERFACE) &&
            call.instance.size() == 8) {
            std::uint32_t words[2];
            std::memcpy(words, call.instance.data(), 8);
            found.emplace_back(words[0], words[1]);
        }
    }
    return found;
}

using genicam_adapter_device = genicam_fixture;

TEST_F(genicam_adapter_device, a_refused_first_selector_is_asked_again_with_selector_zero)
{
    service.refuse_selector_one_for_first(true);
    implement({"ZoomValue"});
    auto device = adapter();
    const auto descriptors = load(*device);
    EXPECT_EQ(device->document_count(), 1u);
    ASSERT_EQ(descriptors.size(), 1u);
    const auto requests = document_requests(*backend, 1);
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0], std::make_pair(1u, 0u));
    EXPECT_EQ(requests[1], std::make_pair(0u, 0u));
    EXPECT_EQ(requests[2], std::make_pair(1u, 1u));
    EXPECT_EQ(document_requests(*backend, 2).front(), std::make_pair(0u, 0u));
}

TEST_F(genicam_adapter_device, loading_ends_quietly_at_the_first_refused_index)
{
    service.add_document(zoom_description("Other"));
    service.add_document("<RegisterDescription ModelName=\"M\" VendorName=\"V\"/>");
    implement({"ZoomValue", "Other"});
    auto device = adapter();
    const auto descriptors = load(*device);
    EXPECT_EQ(device->document_count(), 3u);
    EXPECT_EQ(descriptors.size(), 2u);
    EXPECT_EQ(document_requests(*backend, 1).back(), std::make_pair(1u, 3u));
}

TEST_F(genicam_adapter_device, descriptors_come_from_the_marked_categories_and_implemented_features)
{
    implement({"ZoomValue", "ZoomMode", "ZoomGo"});
    auto device = adapter();
    const auto descriptors = load(*device);
    ASSERT_EQ(descriptors.size(), 1u);
    const item_descriptor& zoom = descriptors[0];
    EXPECT_EQ(zoom.category, std::optional<std::wstring>(L"Lens"));
    EXPECT_EQ(zoom.item_name, L"Zoom");
    EXPECT_EQ(zoom.priority, 10);
    EXPECT_TRUE(IsEqualGUID(zoom.item_guid, to_guid(*parse_braced_guid(zoom_item_guid))));
    EXPECT_EQ(zoom.create, &genicam_adapter::genicam_propdata_named::create);
    ASSERT_EQ(zoom.elements.size(), 3u);
    EXPECT_EQ(zoom.elements[0].name, L"Zoom value");
    EXPECT_EQ(zoom.elements[0].interfaces[0].kind, interface_kind::range);
    EXPECT_EQ(zoom.elements[1].interfaces[0].kind, interface_kind::map_strings);
    EXPECT_EQ(zoom.elements[2].interfaces[0].kind, interface_kind::button);

    // Without named access the engine says what is implemented, and items
    // evaluate the node map themselves.
    auto local = std::make_unique<genicam_adapter::GenICamAdapterDevice>(filter());
    const auto own = load(*local);
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(own[0].elements.size(), 5u);
    EXPECT_EQ(own[0].create, &genicam_adapter::genicam_propdata_portbased::create);
}

TEST_F(genicam_adapter_device, a_filter_that_answers_every_index_is_followed_for_256_documents)
{
    for (int i = 0; i < 300; ++i) {
        service.add_document("<RegisterDescription ModelName=\"M\" VendorName=\"V\"/>");
    }
    auto device = adapter();
    EXPECT_TRUE(load(*device).empty());
    EXPECT_EQ(device->document_count(), 256u);
}

TEST_F(genicam_adapter_device, a_document_too_large_is_skipped_before_it_is_fetched_and_the_next_one_read)
{
    service.add_document(zoom_description("Other"));
    implement({"ZoomValue", "Other"});
    for (std::uint32_t size : {genicam_adapter::max_document_size + 1, 0xFFFFFFFFu}) {
        backend->clear_calls();
        service.report_size(0, size);
        auto device = adapter();
        const auto descriptors = load(*device);
        EXPECT_EQ(device->document_count(), 1u);
        ASSERT_EQ(descriptors.size(), 1u) << "the item of the second document";
        const auto* feature = reinterpret_cast<GenICam::INode*>(id_of(descriptors[0], L"Zoom value"));
        ASSERT_NE(feature, nullptr);
        EXPECT_EQ(feature->get_name(), "Other");
        ASSERT_EQ(device->skipped_documents().size(), 1u);
        EXPECT_NE(device->skipped_documents()[0].find("larger than"), std::string::npos)
            << device->skipped_documents()[0];
        const auto fetched = document_requests(*backend, 2);
        ASSERT_EQ(fetched.size(), 1u);
        EXPECT_EQ(fetched[0], std::make_pair(1u, 1u)) << "only the second document's bytes were asked for";
    }
}

TEST_F(genicam_adapter_device, a_document_shorter_than_its_size_is_skipped_and_the_next_one_read)
{
    service.add_document(zoom_description("Other"));
    implement({"ZoomValue", "Other"});
    service.deliver_bytes(0, 100);
    auto device = adapter();
    const auto descriptors = load(*device);
    EXPECT_EQ(device->document_count(), 1u);
    ASSERT_EQ(descriptors.size(), 1u);
    ASSERT_EQ(device->skipped_documents().size(), 1u);
    EXPECT_NE(device->skipped_documents()[0].find("100 of its"), std::string::npos) << device->skipped_documents()[0];
    auto item = descriptors[0].create(filter(), descriptors[0]);
    ASSERT_TRUE(item);
    service.set_named_int("Other/Value", 12);
    std::int32_t value = 0;
    EXPECT_EQ(item->get_value(id_of(descriptors[0], L"Zoom value"), value), S_OK);
    EXPECT_EQ(value, 12) << "the element reads the second document's feature";
}

TEST_F(genicam_adapter_device, a_document_that_does_not_parse_keeps_those_before_it)
{
    service.add_document("<RegisterDescription><Category Name=");
    auto device = adapter();
    std::span<const item_descriptor> descriptors;
    EXPECT_EQ(device->load_genicam_documents(descriptors), E_FAIL);
    EXPECT_EQ(device->last_error(), "Failed to parse GenICam data");
    EXPECT_EQ(device->document_count(), 1u);
    EXPECT_TRUE(descriptors.empty());
}

TEST_F(genicam_adapter_device, loading_again_does_not_list_the_documents_twice)
{
    // No feature is implemented: no descriptor, so every call loads again.
    auto device = adapter();
    EXPECT_TRUE(load(*device).empty());
    EXPECT_TRUE(load(*device).empty());
    EXPECT_EQ(device->document_count(), 1u);
}

TEST_F(genicam_adapter_device, without_register_access_every_register_access_fails_and_named_access_works)
{
    implement({"ZoomValue"});
    service.set_named_int("ZoomValue/Value", 17);
    auto device = adapter();
    std::uint32_t word = 0;
    EXPECT_EQ(device->read(0x10, &word, 4, 0), GenICam::make_error_code(GenICam::errc::not_implemented));
    EXPECT_EQ(device->write(0x10, &word, 4, 0), GenICam::make_error_code(GenICam::errc::not_implemented));

    const auto descriptors = load(*device);
    ASSERT_EQ(descriptors.size(), 1u);
    auto named = descriptors[0].create(filter(), descriptors[0]);
    ASSERT_TRUE(named);
    std::int32_t value = 0;
    ASSERT_EQ(named->get_value(id_of(descriptors[0], L"Zoom value"), value), S_OK);
    EXPECT_EQ(value, 17);

    // The same feature evaluated locally reaches the register and fails.
    auto local = genicam_adapter::genicam_propdata_portbased::create(filter(), descriptors[0]);
    EXPECT_EQ(local->get_value(id_of(descriptors[0], L"Zoom value"), value), E_NOTIMPL);
}

TEST_F(genicam_adapter_device, register_replies_reach_the_engine_as_genicam_codes)
{
    auto device = adapter();
    const GUID& set = cam::PROPSETID_GENERIC_DRIVER_INTERFACE;
    const struct {
        HRESULT answer;
        std::uint32_t expected;
    } cases[] = {
        {S_OK, 0},
        {S_FALSE, 0x80008002},
        {E_NOTIMPL, 0x80008001},
        {E_ACCESSDENIED, 0x80008006},
        {static_cast<HRESULT>(0x8007007AL), 0x80000002},
        {static_cast<HRESULT>(0x80070651L), 0x80000003},
        {E_FAIL, 0x80008002},
    };
    for (const auto& c : cases) {
        backend->set_property(set, 3,
                              test_filter::scripted_property::answering(std::vector<std::uint8_t>(4, 0x5A), c.answer));
        const std::error_code expected = c.expected == 0 ? std::error_code{} : GenICam::make_genicam_error(c.expected);
        std::uint32_t word = 0;
        EXPECT_EQ(device->read(0x10, &word, 4, 0), expected) << std::hex << c.answer;
        EXPECT_EQ(device->write(0x10, &word, 4, 0), expected) << std::hex << c.answer;
    }
    // Fewer bytes than the register holds are no value.
    backend->set_property(set, 3, test_filter::scripted_property::answering(std::vector<std::uint8_t>(2, 0x5A)));
    std::uint32_t word = 0;
    EXPECT_EQ(device->read(0x10, &word, 4, 0), GenICam::make_error_code(GenICam::errc::invalid_parameter));
    EXPECT_EQ(device->read(0x10, &word, -1, 0), GenICam::make_error_code(GenICam::errc::invalid_parameter));
}

TEST(genicam_hresult, codes_map_both_ways)
{
    const struct {
        std::uint32_t code;
        HRESULT hr;
    } to_hr[] = {{0, S_OK},
                 {0x80000002, static_cast<HRESULT>(0x8007007AL)},
                 {0x80000003, static_cast<HRESULT>(0x80070651L)},
                 {0x80000103, E_FAIL},
                 {0x80008001, E_NOTIMPL},
                 {0x80008006, E_ACCESSDENIED},
                 {0x80000104, E_INVALIDARG},
                 {0x80008003, E_INVALIDARG}};
    for (const auto& c : to_hr) {
        EXPECT_EQ(genicam_to_hresult(GenICam::make_genicam_error(c.code)), c.hr) << std::hex << c.code;
    }
    EXPECT_EQ(genicam_to_hresult(std::make_error_code(std::errc::io_error)), E_INVALIDARG);
    EXPECT_EQ(hresult_to_genicam(S_OK), std::error_code());
    EXPECT_EQ(hresult_to_genicam(E_POINTER), GenICam::make_error_code(GenICam::errc::invalid_parameter));
}

TEST_F(genicam_adapter_device, a_missing_filter_is_a_null_pointer_and_fails_every_register_access)
{
    genicam_adapter::GenICamAdapterDevice device(nullptr);
    std::span<const item_descriptor> descriptors;
    EXPECT_EQ(device.load_genicam_documents(descriptors), E_POINTER);
    EXPECT_TRUE(descriptors.empty());
    std::uint32_t word = 0;
    EXPECT_EQ(device.read(0, &word, 4, 0), GenICam::make_error_code(GenICam::errc::invalid_parameter));
    EXPECT_EQ(device.write(0, &word, 4, 0), GenICam::make_error_code(GenICam::errc::invalid_parameter));
}

} // namespace
} // namespace pp_test
