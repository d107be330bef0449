// Retrieval of the camera's GenICam file through its manifest: plain and
// zipped files, the entry chosen, the file cache, and everything a device
// may get wrong.

#include "u3v_test_bench.h"

#include "device_impl/u3v/manifest_fetch.h"

#include <sim_acquisition.h>
#include <sim_zip.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>

namespace {

using sim_camera::gencp_responder;
using sim_camera::manifest_file;
using u3v_test::cam_error;
using u3v_test::log_lines;
using u3v_test::u3v_bench;

constexpr std::uint32_t e_invalidarg = 0x80070057;

u3v_com::file_hash hash_of(const manifest_file& file)
{
    u3v_com::file_hash hash;
    std::memcpy(hash.data(), file.hash.data(), hash.size());
    return hash;
}

// A fault on the acknowledges of commands at `address`.
sim_camera::gencp_fault at(std::uint64_t address)
{
    sim_camera::gencp_fault fault;
    fault.address = address;
    return fault;
}

// The uncompressed size that the archive's headers claim for its entry.
void claim_unzipped_size(sim_camera::bytes& archive, std::uint32_t size)
{
    for (std::size_t at = 0; at + 46 <= archive.size(); ++at) {
        if (archive[at] == 'P' && archive[at + 1] == 'K' && archive[at + 2] == 3 && archive[at + 3] == 4) {
            std::memcpy(&archive[at + 22], &size, 4);
        } else if (archive[at] == 'P' && archive[at + 1] == 'K' && archive[at + 2] == 1 && archive[at + 3] == 2) {
            std::memcpy(&archive[at + 24], &size, 4);
        }
    }
}

TEST(genicam_file, arrives_byte_for_byte_plain_or_zipped_by_either_writer)
{
    const struct {
        const char* name;
        manifest_file file;
    } cases[] = {
        {"plain XML", gencp_responder::description_entry(101, false)},
        {"zipped at run time", gencp_responder::description_entry(102, true)},
        {"zipped by another tool",
         [] {
             manifest_file file = gencp_responder::description_entry(103, true);
             file.content = sim_camera::description_zip_by_other_tool_bytes();
             return file;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_lines log;
        u3v_bench bench;
        bench.gencp.set_manifest({c.file});
        ASSERT_TRUE(bench.start());
        ASSERT_FALSE(bench.open());
        EXPECT_EQ(bench.port.genicam_file(), u3v_test::description());
        EXPECT_EQ(bench.own_cache->lookup(bench.port.model(), hash_of(c.file)), u3v_test::description());
        EXPECT_EQ(log.count("[CamTovra] Extracted filename=\"CamTovraSim_GenICam.xml\", extracted len=" +
                            std::to_string(u3v_test::description().size()) + ".\n"),
                  c.file.type == 1 ? 1u : 0u);
    }
}

TEST(genicam_file, the_last_entry_of_the_table_is_used)
{
    u3v_bench bench;
    manifest_file first = gencp_responder::description_entry(201, false);
    first.content = {'<', 'x', '/', '>'};
    bench.gencp.set_manifest({first, gencp_responder::description_entry(202)});
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    EXPECT_EQ(bench.port.genicam_file(), u3v_test::description());
    EXPECT_EQ(bench.gencp.readmem_count(sim_camera::manifest_files_address, 4), 0u);
}

TEST(genicam_file, second_camera_with_the_same_hash_takes_the_file_from_the_cache)
{
    u3v_com::genicam_file_cache cache;
    const manifest_file file = gencp_responder::description_entry(301);
    {
        u3v_bench first(&cache);
        first.gencp.set_manifest({file});
        ASSERT_TRUE(first.start());
        ASSERT_FALSE(first.open());
        EXPECT_GT(first.gencp.readmem_count(sim_camera::manifest_files_address, file.content.size()), 0u);
    }
    u3v_bench second(&cache);
    second.gencp.set_manifest({file});
    ASSERT_TRUE(second.start());
    ASSERT_FALSE(second.open());
    EXPECT_EQ(second.port.genicam_file(), u3v_test::description());
    EXPECT_EQ(second.gencp.readmem_count(sim_camera::manifest_files_address, file.content.size()), 0u);

    // A reopen of the same port is served from the cache as well.
    ASSERT_FALSE(second.open());
    EXPECT_EQ(second.port.genicam_file(), u3v_test::description());
    EXPECT_EQ(second.gencp.readmem_count(sim_camera::manifest_files_address, file.content.size()), 0u);
}

// A camera that reports one hash whatever its file: another model's file
// under that hash is not taken from the cache.
TEST(genicam_file, another_model_with_the_same_hash_fetches_its_own_file)
{
    u3v_com::genicam_file_cache cache;
    const manifest_file file = gencp_responder::description_entry(302);
    std::string first_model;
    {
        u3v_bench first(&cache);
        first.gencp.set_manifest({file});
        ASSERT_TRUE(first.start());
        ASSERT_FALSE(first.open());
        first_model = first.port.model();
    }
    const sim_camera::bytes other_xml = sim_camera::description_xml({.acquisition_stop = false});
    ASSERT_NE(other_xml, u3v_test::description());
    manifest_file other = sim_camera::description_file(other_xml, 302);
    other.hash = file.hash;
    u3v_bench second(&cache);
    second.io.camera.device_descriptor_bytes.at(10) ^= 0x01; // another product id
    second.gencp.set_manifest({other});
    ASSERT_TRUE(second.start());
    ASSERT_FALSE(second.open());
    EXPECT_NE(second.port.model(), first_model);
    EXPECT_EQ(second.port.genicam_file(), other_xml);
    EXPECT_GT(second.gencp.readmem_count(sim_camera::manifest_files_address, other.content.size()), 0u);
}

TEST(genicam_file, an_all_zero_hash_is_never_cached_nor_looked_up)
{
    u3v_com::genicam_file_cache cache;
    manifest_file file = gencp_responder::description_entry(0);
    file.hash.fill(0);
    for (int round = 0; round < 2; ++round) {
        u3v_bench bench(&cache);
        bench.gencp.set_manifest({file});
        ASSERT_TRUE(bench.start());
        ASSERT_FALSE(bench.open());
        EXPECT_EQ(bench.port.genicam_file(), u3v_test::description());
        EXPECT_GT(bench.gencp.readmem_count(sim_camera::manifest_files_address, file.content.size()), 0u) << round;
    }
    cache.insert("", {}, {1, 2, 3});
    EXPECT_TRUE(cache.lookup("", {}).empty());
}

TEST(genicam_file, failed_fetch_leaves_the_file_and_the_cache_as_they_were)
{
    u3v_bench bench;
    bench.gencp.set_manifest({gencp_responder::description_entry(401)});
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    manifest_file bad = gencp_responder::description_entry(402);
    bad.type = 2;
    bench.gencp.set_manifest({bad});
    EXPECT_EQ(bench.open(), cam_error(e_invalidarg));
    EXPECT_EQ(bench.port.genicam_file(), u3v_test::description());
    EXPECT_TRUE(bench.own_cache->lookup(bench.port.model(), hash_of(bad)).empty());
}

TEST(genicam_file, two_cameras_opened_at_once_share_the_process_cache)
{
    const manifest_file file = gencp_responder::description_entry(0x7001);
    u3v_bench a(&u3v_com::genicam_file_cache::process_cache());
    u3v_bench b(&u3v_com::genicam_file_cache::process_cache());
    a.gencp.set_manifest({file});
    b.gencp.set_manifest({file});
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    std::error_code result_a;
    std::error_code result_b;
    std::thread first([&] { result_a = a.open(); });
    std::thread second([&] { result_b = b.open(); });
    first.join();
    second.join();
    EXPECT_FALSE(result_a);
    EXPECT_FALSE(result_b);
    EXPECT_EQ(a.port.genicam_file(), u3v_test::description());
    EXPECT_EQ(b.port.genicam_file(), u3v_test::description());
    EXPECT_EQ(u3v_com::genicam_file_cache::process_cache().lookup(a.port.model(), hash_of(file)), u3v_test::description());
}

// Every fault a device can commit during the fetch: the result, the line that
// says why, no file, nothing cached.
TEST(genicam_file, device_faults_fail_the_fetch_with_their_reason)
{
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    struct fault_case {
        const char* name;
        std::function<void(gencp_responder&, manifest_file&)> arrange;
        std::uint32_t expected;
        const char* line;
    };
    const fault_case cases[] = {
        {"no entries", [](gencp_responder& g, manifest_file& f) { g.set_manifest({f}, 0); }, e_invalidarg,
         "[CamTovra] The manifest table names no GenICam file.\n"},
        {"2^40 entries", [](gencp_responder& g, manifest_file& f) { g.set_manifest({f}, 1ull << 40); },
         e_invalidarg, "[CamTovra] Manifest table entry_count=1099511627776 is above the limit of 64.\n"},
        {"65 entries", [](gencp_responder& g, manifest_file& f) { g.set_manifest({f}, 65); }, e_invalidarg,
         "is above the limit of 64"},
        {"more entries than the table holds", [](gencp_responder& g, manifest_file& f) { g.set_manifest({f}, 3); },
         e_invalidarg, "[CamTovra] Failed to read manifest table entries due to status="},
        {"file size 0",
         [](gencp_responder& g, manifest_file& f) {
             f.size = 0;
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] The manifest table names no GenICam file.\n"},
        {"file type 2",
         [](gencp_responder& g, manifest_file& f) {
             f.type = 2;
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Unknown manifest file type specified.\n"},
        {"archive without entries",
         [](gencp_responder& g, manifest_file& f) {
             f.content = sim_camera::zip_archive({});
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to extract files from manifest blob.\n"},
        {"archive with two entries",
         [](gencp_responder& g, manifest_file& f) {
             f.content = sim_camera::zip_archive(
                 {{"a.xml", sim_camera::description_xml_bytes()}, {"b.xml", sim_camera::description_xml_bytes()}});
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to extract files from manifest blob.\n"},
        {"archive with a corrupt entry",
         [](gencp_responder& g, manifest_file& f) {
             f.content = sim_camera::zip_archive({{"a.xml", sim_camera::description_xml_bytes()}}, false);
             f.content[100] ^= 0x20; // inside the stored data: the CRC no longer matches
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to extract files from manifest blob.\n"},
        {"archive that is no archive",
         [](gencp_responder& g, manifest_file& f) {
             f.content = sim_camera::description_xml_bytes();
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to extract files from manifest blob.\n"},
        {"unzipped size far beyond the archive",
         [](gencp_responder& g, manifest_file& f) {
             claim_unzipped_size(f.content, 60u << 20);
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to extract files from manifest blob.\n"},
        {"unzipped size beyond 64 MiB",
         [](gencp_responder& g, manifest_file& f) {
             claim_unzipped_size(f.content, (64u << 20) + 1);
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to extract files from manifest blob.\n"},
        {"file beyond 64 MiB",
         [](gencp_responder& g, manifest_file& f) {
             f.size = (64ull << 20) + 1;
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] GenICam file size=67108865 is above the limit of 67108864.\n"},
        {"table address at 2^64 - 8", [top](gencp_responder& g, manifest_file&) { g.set_table_address(top - 7); },
         e_invalidarg, "[CamTovra] Failed to read manifest table entries due to status="},
        {"entry whose address + size overflows",
         [top](gencp_responder& g, manifest_file& f) {
             f.address = top - 16;
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to read genicam from address specified by manifest table entry.\n"},
        {"entry larger than the device's file",
         [](gencp_responder& g, manifest_file& f) {
             f.size = f.content.size() + 1;
             g.set_manifest({f});
         },
         e_invalidarg, "[CamTovra] Failed to read genicam from address specified by manifest table entry.\n"},
        {"table address unreadable",
         [](gencp_responder& g, manifest_file&) {
             auto f = at(0x1D0);
             f.status = 0x8006;
             g.add_fault(f);
         },
         0x80070005, "[CamTovra] Failed Manifest_Table_Address, status="},
        {"entry count unreadable",
         [](gencp_responder& g, manifest_file&) {
             auto f = at(sim_camera::manifest_table_address);
             f.status = 0x8007;
             g.add_fault(f);
         },
         0x8000000A, "[CamTovra] Failed to read manifest table entries due to status="},
        {"short acknowledge of the table address",
         [](gencp_responder& g, manifest_file&) {
             auto f = at(0x1D0);
             f.ack_length = 4;
             g.add_fault(f);
         },
         e_invalidarg, "[CamTovra] Failed Manifest_Table_Address, status="},
        {"short acknowledge of the entries",
         [](gencp_responder& g, manifest_file&) {
             auto f = at(sim_camera::manifest_table_address + 8);
             f.ack_length = 10;
             g.add_fault(f);
         },
         e_invalidarg, "[CamTovra] Failed to read manifest table entries due to status="},
        {"short acknowledge of the file",
         [](gencp_responder& g, manifest_file&) {
             auto f = at(sim_camera::manifest_files_address);
             f.ack_length = 100;
             g.add_fault(f);
         },
         e_invalidarg, "[CamTovra] Failed to read genicam from address specified by manifest table entry.\n"},
        {"file read with a wrong request id",
         [](gencp_responder& g, manifest_file&) {
             auto f = at(sim_camera::manifest_files_address);
             f.status = 1;
             f.request_id_offset = 3;
             g.add_fault(f);
         },
         0x80004005, "[CamTovra] Failed to read genicam from address specified by manifest table entry.\n"},
    };
    std::uint32_t tag = 0x500;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log_lines log;
        u3v_bench bench;
        manifest_file file = gencp_responder::description_entry(++tag);
        c.arrange(bench.gencp, file);
        ASSERT_TRUE(bench.start());
        EXPECT_EQ(bench.open(), cam_error(c.expected));
        EXPECT_EQ(log.count(c.line), 1u);
        EXPECT_TRUE(bench.port.genicam_file().empty());
        EXPECT_TRUE(bench.own_cache->lookup(bench.port.model(), hash_of(file)).empty());
    }
}

TEST(genicam_file, stalled_transfer_fails_the_fetch_and_caches_nothing)
{
    log_lines log;
    u3v_bench bench;
    const manifest_file file = gencp_responder::description_entry(0x601);
    bench.gencp.set_manifest({file});
    sim_camera::gencp_fault stall = at(sim_camera::manifest_files_address);
    stall.stall = true;
    bench.gencp.add_fault(stall);
    ASSERT_TRUE(bench.start());
    const std::error_code ec = bench.open();
    EXPECT_EQ(ec.category(), std::system_category());
    EXPECT_NE(ec.value(), 0);
    EXPECT_EQ(log.count("[CamTovra] Failed to read genicam from address specified by manifest table entry.\n"), 1u);
    EXPECT_TRUE(bench.port.genicam_file().empty());
    EXPECT_TRUE(bench.own_cache->lookup(bench.port.model(), hash_of(file)).empty());
}

// A camera may answer one data byte per exchange: a file that would need more
// exchanges than allowed at the camera's exchange size is refused before a
// byte of it is read, and a fetch that outlasts its budget ends there with a
// time-out. Either leaves nothing cached, and the camera's next open fetches
// the file again.
TEST(genicam_file, too_small_exchanges_or_a_spent_budget_fail_the_fetch_and_the_next_open_fetches_again)
{
    constexpr std::uint32_t e_timeout = 0x800705B4;
    struct restore_limits {
        ~restore_limits() { u3v_com::set_file_fetch_limits({}); }
    } restore;
    log_lines log;
    u3v_bench bench;
    const manifest_file file = gencp_responder::description_entry(0x701, false);
    bench.gencp.set_manifest({file});
    bench.gencp.set_limits(13, 600); // one data byte per exchange
    ASSERT_TRUE(bench.start());

    u3v_com::file_fetch_limits limits;
    limits.max_exchanges = file.content.size() / 4;
    u3v_com::set_file_fetch_limits(limits);
    EXPECT_EQ(bench.open(), cam_error(e_invalidarg));
    EXPECT_EQ(bench.gencp.readmem_count(sim_camera::manifest_files_address, file.content.size()), 0u);
    EXPECT_EQ(log.count("[CamTovra] u3v_com::fetch_manifest_files, 1 bytes per exchange are too few for a GenICam "
                        "file of size=" +
                        std::to_string(file.content.size()) + " (at least "),
              1u);

    // Each look at the clock finds a second more gone.
    std::atomic<int> seconds{0};
    limits = {};
    limits.budget = std::chrono::seconds(100); // past the 64 exchanges of the manifest table
    limits.now = [&seconds] { return std::chrono::steady_clock::time_point(std::chrono::seconds(seconds++)); };
    u3v_com::set_file_fetch_limits(limits);
    EXPECT_EQ(bench.open(), cam_error(e_timeout));
    EXPECT_TRUE(u3v_com::fetch_budget_spent(bench.open(), bench.port.protocol_category()));
    EXPECT_LT(bench.gencp.readmem_count(sim_camera::manifest_files_address, file.content.size()), 2 * 100u);
    EXPECT_EQ(log.count("[CamTovra] u3v_com::fetch_manifest_files, reading the GenICam file took longer than "
                        "100000 ms"),
              2u);
    EXPECT_TRUE(bench.port.genicam_file().empty());
    EXPECT_TRUE(bench.own_cache->lookup(bench.port.model(), hash_of(file)).empty());

    u3v_com::set_file_fetch_limits({});
    EXPECT_FALSE(bench.open());
    EXPECT_EQ(bench.port.genicam_file(), u3v_test::description());
}

} // namespace
