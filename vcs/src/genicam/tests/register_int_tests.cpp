// IntReg through an in-memory device: byte order, sign, limits, the cache
// modes and flags, address terms and bad lengths; and what a read after a
// write costs in each cache mode, for every register family.

#include "genicam/ieval.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/istring.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using genicam_test::bind_device;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using genicam_test::memory_device_port;
using GenICam::cache_mode;
using GenICam::errc;
using GenICam::IInteger;
namespace flags = GenICam::access_flags;

std::error_code code(errc e)
{
    return make_error_code(e);
}

IInteger& integer(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* i = dynamic_cast<IInteger*>(doc.find_node(name));
    EXPECT_NE(i, nullptr) << name;
    return *i;
}

std::string int_reg(std::string_view name, std::string_view body)
{
    return "<IntReg Name=\"" + std::string(name) + "\">" + std::string(body) + "</IntReg>";
}

class int_reg_test : public testing::Test {
protected:
    void load(const std::string& nodes)
    {
        doc_ = load_nodes(std::string(genicam_test::device_port) + nodes);
        bind_device(*doc_, device_);
    }
    IInteger& node(std::string_view name) { return integer(*doc_, name); }

    memory_device_port device_;
    std::unique_ptr<GenICam::impl::genicam_doc> doc_;
};

TEST_F(int_reg_test, decodes_byte_order_and_sign)
{
    load(int_reg("LE2S", "<Address>0x10</Address><Length>2</Length><Endianess>LittleEndian</Endianess>"
                         "<Sign>Signed</Sign>") +
         int_reg("BE3", "<Address>0x20</Address><Length>3</Length>") +
         int_reg("U8", "<Address>0x30</Address><Length>8</Length><Endianess>LittleEndian</Endianess>") +
         int_reg("S8", "<Address>0x30</Address><Length>8</Length><Sign>Signed</Sign>") +
         int_reg("U1", "<Address>0x40</Address><Length>1</Length>"));
    device_.put(0x10, {0xFF, 0x7F});
    EXPECT_EQ(node("LE2S").get_val().value(), 32767);
    device_.put(0x10, {0x00, 0x80});
    EXPECT_EQ(node("LE2S").get_val().value(), -32768);
    device_.put(0x20, {0x01, 0x02, 0x03});
    EXPECT_EQ(node("BE3").get_val().value(), 66051);
    device_.put(0x30, {0, 0, 0, 0, 0, 0, 0, 0x80});
    EXPECT_EQ(node("U8").get_val().value(), std::numeric_limits<std::int64_t>::min()) << "64 bits handed on";

    EXPECT_EQ(node("BE3").get_min().value(), 0);
    EXPECT_EQ(node("BE3").get_max().value(), 16777215);
    EXPECT_EQ(node("LE2S").get_min().value(), -32768);
    EXPECT_EQ(node("LE2S").get_max().value(), 32767);
    EXPECT_EQ(node("U8").get_max().value(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(node("S8").get_min().value(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(node("U1").get_default().error(), code(errc::not_implemented));

    // Bits that do not fit are dropped, without a range check.
    EXPECT_FALSE(node("U1").set_val(0x1FF));
    EXPECT_EQ(device_.get(0x40, 1)[0], 0xFF);
    EXPECT_EQ(device_.last_write_length, 1);
    EXPECT_FALSE(node("LE2S").set_val(-2));
    EXPECT_EQ(device_.get(0x10, 2), (std::vector<std::uint8_t>{0xFE, 0xFF}));
}

TEST_F(int_reg_test, cached_reads_give_the_value_the_device_read_gave)
{
    struct layout {
        int length;
        bool little_endian;
        bool is_signed;
    };
    std::vector<layout> layouts;
    std::string nodes = R"(<Integer Name="Base"><Value>0x400</Value></Integer>)";
    for (int length = 1; length <= 8; ++length) {
        for (const bool little : {false, true}) {
            for (const bool is_signed : {false, true}) {
                const std::string body = "<Length>" + std::to_string(length) + "</Length>" +
                                         "<Cachable>WriteThrough</Cachable>" +
                                         (little ? "<Endianess>LittleEndian</Endianess>" : "") +
                                         (is_signed ? "<Sign>Signed</Sign>" : "");
                const auto offset = std::to_string(0x10 * layouts.size());
                nodes += int_reg("C" + std::to_string(layouts.size()), "<Address>" + offset + "</Address>" + body);
                nodes += int_reg("D" + std::to_string(layouts.size()),
                                 "<Address>" + offset + "</Address><pAddress>Base</pAddress>" + body);
                layouts.push_back({length, little, is_signed});
            }
        }
    }
    load(nodes);
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        // Bytes with the top bit set, so that sign extension and byte order show.
        for (std::uint64_t k = 0; k < 8; ++k) {
            device_.memory[0x10 * i + k] = static_cast<std::uint8_t>(0x81 + k);
            device_.memory[0x400 + 0x10 * i + k] = static_cast<std::uint8_t>(0x81 + k);
        }
    }
    for (std::size_t i = 0; i < layouts.size(); ++i) {
        const layout l = layouts[i];
        for (const char* kind : {"C", "D"}) {
            SCOPED_TRACE(std::string(kind) + " length " + std::to_string(l.length) + (l.little_endian ? " LE" : " BE") +
                         (l.is_signed ? " signed" : " unsigned"));
            IInteger& reg = node(kind + std::to_string(i));
            const int reads_before = device_.reads;
            const auto from_device = reg.get_val();
            ASSERT_TRUE(from_device);
            EXPECT_EQ(reg.get_val().value(), from_device.value());
            EXPECT_EQ(reg.get_val(flags::cache_only).value(), from_device.value());
            EXPECT_EQ(device_.reads, reads_before + 1) << "the cache answered the later reads";
            EXPECT_EQ(reg.get_val(flags::bypass_cache).value(), from_device.value());
            EXPECT_EQ(device_.reads, reads_before + 2);
            std::uint64_t expected = 0;
            for (int k = 0; k < l.length; ++k) {
                const int shift = 8 * (l.little_endian ? k : l.length - 1 - k);
                expected |= std::uint64_t{0x81u + static_cast<unsigned>(k)} << shift;
            }
            if (l.is_signed && l.length < 8) {
                expected |= ~std::uint64_t{0} << (8 * l.length);
            }
            EXPECT_EQ(from_device.value(), static_cast<std::int64_t>(expected));
        }
    }
}

TEST_F(int_reg_test, reads_check_the_access_mode_and_condition_links)
{
    load(R"(<Integer Name="Off"><Value>0</Value></Integer>)" +
         int_reg("Ro", "<Address>0x10</Address><Length>4</Length><AccessMode>RO</AccessMode>"
                       "<Cachable>WriteThrough</Cachable>") +
         int_reg("Wo", "<Address>0x10</Address><Length>4</Length><AccessMode>WO</AccessMode>"
                       "<Cachable>WriteThrough</Cachable>") +
         int_reg("Hidden", "<Address>0x10</Address><Length>4</Length><pIsAvailable>Off</pIsAvailable>"
                           "<Cachable>WriteThrough</Cachable>") +
         int_reg("Absent", "<Address>0x10</Address><Length>4</Length><pIsImplemented>Off</pIsImplemented>"
                           "<Cachable>WriteThrough</Cachable>"));
    device_.put(0x10, {0, 0, 0, 6});
    EXPECT_EQ(node("Ro").get_val().value(), 6);
    EXPECT_EQ(node("Ro").get_val().value(), 6) << "from the cache";
    EXPECT_EQ(node("Wo").get_val().error(), code(errc::access_denied));
    EXPECT_EQ(node("Hidden").get_val().error(), code(errc::node_not_available));
    EXPECT_EQ(node("Absent").get_val().error(), code(errc::not_implemented));
    EXPECT_EQ(device_.reads, 1) << "a refused read does not reach the device";
    EXPECT_EQ(node("Wo").get_val(flags::skip_access_check).value(), 6);
    EXPECT_EQ(node("Hidden").get_val(flags::skip_access_check).value(), 6);
}

TEST_F(int_reg_test, refuses_lengths_outside_one_to_eight)
{
    log_capture log;
    load(int_reg("Zero", "<Address>0</Address><Length>0</Length>") +
         int_reg("Nine", "<Address>0</Address><Length>9</Length>") +
         int_reg("Negative", "<Address>0</Address><Length>-1</Length>") +
         R"(<IntSwissKnife Name="Huge"><Formula>1 &lt;&lt; 40</Formula></IntSwissKnife>)" +
         int_reg("Linked", "<Address>0</Address><pLength>Huge</pLength>"));
    for (const char* name : {"Zero", "Nine", "Negative", "Linked"}) {
        EXPECT_EQ(node(name).get_val().error(), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).set_val(1), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).get_max().error(), code(errc::index_out_of_range)) << name;
    }
    EXPECT_EQ(device_.calls(), 0);
    EXPECT_NE(log.text().find("IntReg (\"Nine\"). Invalid Length value=9 out of range [1;8]."), std::string::npos);
}

TEST_F(int_reg_test, an_unreadable_length_fails_reads_but_limits_assume_four_bytes)
{
    load(int_reg("Len", "<Address>0</Address><Length>1</Length><pPort>Nowhere</pPort>") +
         int_reg("R", "<Address>0x10</Address><pLength>Len</pLength>"));
    EXPECT_EQ(node("R").get_val().error(), code(errc::not_implemented));
    EXPECT_EQ(node("R").get_min().value(), 0);
    EXPECT_EQ(node("R").get_max().value(), 0xFFFFFFFF);
}

TEST_F(int_reg_test, cache_modes_decide_when_the_device_is_asked)
{
    load(int_reg("NoCache", "<Address>0x10</Address><Length>4</Length>") +
         int_reg("Through", "<Address>0x20</Address><Length>4</Length><Cachable>WriteThrough</Cachable>") +
         int_reg("Around", "<Address>0x30</Address><Length>4</Length><Cachable>WriteAround</Cachable>"));
    IInteger& no_cache = node("NoCache");
    EXPECT_EQ(no_cache.get_val(flags::cache_only).error(), code(errc::no_cached_value));
    EXPECT_EQ(no_cache.get_val().value(), 0);
    EXPECT_EQ(no_cache.get_val().value(), 0);
    EXPECT_EQ(device_.reads, 2) << "NoCache always reads the device";
    EXPECT_EQ(no_cache.get_val(flags::cache_only).value(), 0) << "but keeps the bytes for cache-only reads";
    EXPECT_EQ(no_cache.set_val(5, flags::cache_only), code(errc::not_implemented));
    EXPECT_EQ(device_.reads, 2);

    IInteger& through = node("Through");
    EXPECT_FALSE(through.set_val(7));
    EXPECT_EQ(through.get_val().value(), 7);
    EXPECT_EQ(device_.reads, 2) << "WriteThrough answers from the cache";
    device_.put(0x20, {0, 0, 0, 9});
    EXPECT_EQ(through.get_val().value(), 7);
    EXPECT_EQ(through.get_val(flags::bypass_cache).value(), 9);
    EXPECT_EQ(device_.reads, 3);
    EXPECT_FALSE(through.set_val(11, flags::cache_only));
    EXPECT_EQ(device_.get(0x20, 4)[3], 9) << "a cache-only write does not reach the device";
    EXPECT_EQ(through.get_val().value(), 11);

    IInteger& around = node("Around");
    EXPECT_FALSE(around.set_val(3));
    EXPECT_EQ(around.get_val().value(), 3);
    EXPECT_EQ(device_.reads, 4) << "WriteAround reads the device after a write";
    EXPECT_EQ(around.get_val().value(), 3);
    EXPECT_EQ(device_.reads, 4) << "then serves from the cache";
    around.get_eval().invalidate();
    EXPECT_EQ(around.get_val().value(), 3);
    EXPECT_EQ(device_.reads, 5) << "invalidation drops the cached bytes";
}

TEST_F(int_reg_test, a_refused_write_through_keeps_the_value_the_device_kept)
{
    load(int_reg("Through", "<Address>0x20</Address><Length>2</Length><Cachable>WriteThrough</Cachable>"));
    IInteger& through = node("Through");
    EXPECT_FALSE(through.set_val(5));
    device_.fail_writes = true;
    EXPECT_EQ(through.set_val(6), code(errc::device_lost));
    device_.fail_writes = false;
    EXPECT_EQ(through.get_val(flags::cache_only).value(), 5);
    const int reads = device_.reads;
    EXPECT_EQ(through.get_val().value(), 5) << "the device kept 5";
    EXPECT_EQ(device_.reads, reads) << "and the cache still holds it";
}

// A register family's value as 4 register bytes: a small number v (0 to 9)
// in the last byte of a big-endian integer or bit field, as a big-endian
// single-precision float, as four digit characters, or as a text of two digit
// characters and the zeros that end it.
enum class family { integer, floating, text, short_text };

std::vector<std::uint8_t> register_bytes(family kind, int v)
{
    switch (kind) {
    case family::integer:
        return {0, 0, 0, static_cast<std::uint8_t>(v)};
    case family::floating: {
        const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v));
        return {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
                static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
    }
    case family::text:
        return std::vector<std::uint8_t>(4, static_cast<std::uint8_t>('0' + v));
    case family::short_text: {
        const auto digit = static_cast<std::uint8_t>('0' + v);
        return {digit, digit, 0, 0};
    }
    }
    return {};
}

std::error_code write_value(GenICam::INode& node, family kind, int v)
{
    switch (kind) {
    case family::integer:
        return dynamic_cast<IInteger&>(node).set_val(v);
    case family::floating:
        return dynamic_cast<GenICam::IFloat&>(node).set_val(v);
    case family::text:
        return dynamic_cast<GenICam::IString&>(node).set_val(std::string(4, static_cast<char>('0' + v)));
    case family::short_text:
        return dynamic_cast<GenICam::IString&>(node).set_val(std::string(2, static_cast<char>('0' + v)));
    }
    return code(errc::not_implemented);
}

constexpr int not_cached = -2;

// The number read back, not_cached for a cache-only read the cache cannot
// answer, or -1 for another failure or bytes that are no such number.
int read_value(GenICam::INode& node, family kind, std::uint32_t with = 0)
{
    const auto number = [](const auto& r, auto convert) {
        if (!r) {
            return r.error() == code(errc::no_cached_value) ? not_cached : -1;
        }
        return convert(r.value());
    };
    switch (kind) {
    case family::integer:
        return number(dynamic_cast<IInteger&>(node).get_val(with), [](std::int64_t v) { return static_cast<int>(v); });
    case family::floating:
        return number(dynamic_cast<GenICam::IFloat&>(node).get_val(with),
                      [](double v) { return v == static_cast<int>(v) ? static_cast<int>(v) : -1; });
    case family::text:
        return number(dynamic_cast<GenICam::IString&>(node).get_val(with), [](const std::string& v) {
            return v.size() == 4 && v == std::string(4, v[0]) ? v[0] - '0' : -1;
        });
    case family::short_text:
        return number(dynamic_cast<GenICam::IString&>(node).get_val(with), [](const std::string& v) {
            return v.size() == 4 && v == std::string{v[0], v[0], 0, 0} ? v[0] - '0' : -1;
        });
    }
    return -1;
}

// The port's read count tells whether the cache or the device answered: a
// value alone cannot, since the cache may well hold what the device holds.
TEST_F(int_reg_test, a_read_after_a_write_reaches_the_device_unless_write_through_kept_the_value)
{
    struct row {
        const char* element;
        const char* name;
        const char* own;    // the node's own elements
        const char* parent; // the enclosing StructReg's elements (StructEntry only)
        cache_mode mode;    // the mode the node must follow
        bool short_text = false; // a StringReg set to texts shorter than it
    };
    constexpr const char* through = "<Cachable>WriteThrough</Cachable>";
    constexpr const char* around = "<Cachable>WriteAround</Cachable>";
    constexpr const char* uncached = "<Cachable>NoCache</Cachable>";
    const std::vector<row> rows = {
        {"IntReg", "Int", "", "", cache_mode::NoCache},
        {"IntReg", "IntThrough", through, "", cache_mode::WriteThrough},
        {"IntReg", "IntAround", around, "", cache_mode::WriteAround},
        {"IntReg", "DynNoCache", "<pAddress>Zero</pAddress><Cachable>NoCache</Cachable>", "", cache_mode::NoCache},
        {"IntReg", "DynThrough", "<pAddress>Zero</pAddress><Cachable>WriteThrough</Cachable>", "",
         cache_mode::WriteThrough},
        {"IntReg", "DynAround", "<pAddress>Zero</pAddress><Cachable>WriteAround</Cachable>", "",
         cache_mode::WriteAround},
        {"MaskedIntReg", "Masked", "", "", cache_mode::NoCache},
        // A bit field of its own register never caches, whatever it says.
        {"MaskedIntReg", "MaskedThrough", through, "", cache_mode::NoCache},
        {"MaskedIntReg", "MaskedAround", around, "", cache_mode::NoCache},
        {"FloatReg", "Float", "", "", cache_mode::NoCache},
        {"FloatReg", "FloatThrough", through, "", cache_mode::WriteThrough},
        {"FloatReg", "FloatAround", around, "", cache_mode::WriteAround},
        {"StructEntry", "Entry", "", "", cache_mode::NoCache},
        {"StructEntry", "EntryThrough", "", through, cache_mode::WriteThrough},
        {"StructEntry", "EntryAround", "", around, cache_mode::WriteAround},
        {"StructEntry", "EntryOwnNoCache", uncached, through, cache_mode::NoCache},
        {"StructEntry", "EntryOwnThrough", through, around, cache_mode::WriteThrough},
        {"StructEntry", "EntryOwnAround", around, uncached, cache_mode::WriteAround},
        {"StructEntry", "EntryBadOwn", "<Cachable>Sometimes</Cachable>", around, cache_mode::WriteAround},
        {"StringReg", "Text", "", "", cache_mode::WriteThrough},
        {"StringReg", "TextAround", around, "", cache_mode::WriteAround},
        {"StringReg", "TextNoCache", uncached, "", cache_mode::NoCache},
        {"StringReg", "ShortText", "", "", cache_mode::WriteThrough, true},
        {"StringReg", "ShortTextAround", around, "", cache_mode::WriteAround, true},
        {"StringReg", "ShortTextNoCache", uncached, "", cache_mode::NoCache, true},
    };
    const auto family_of = [](const row& r) {
        const std::string_view element = r.element;
        if (r.short_text) {
            return family::short_text;
        }
        return element == "FloatReg" ? family::floating : element == "StringReg" ? family::text : family::integer;
    };
    std::string nodes = R"(<Integer Name="Zero"><Value>0</Value></Integer>)";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const row& r = rows[i];
        const std::string element = r.element;
        const std::string location = "<Address>" + std::to_string(0x10 * i) + "</Address><Length>4</Length>";
        // Bits 24 to 31 of a big-endian register are its last byte.
        const std::string last_byte = "<MSB>24</MSB><LSB>31</LSB>";
        if (element == "StructEntry") {
            nodes += "<StructReg Comment=\"Holder\">" + location + r.parent + "<StructEntry Name=\"" + r.name +
                     "\">" + last_byte + r.own + "</StructEntry></StructReg>";
        } else {
            nodes += "<" + element + " Name=\"" + r.name + "\">" + location + r.own +
                     (element == "MaskedIntReg" ? last_byte : "") + "</" + element + ">";
        }
    }
    load(nodes);

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const row& r = rows[i];
        SCOPED_TRACE(std::string(r.element) + " " + r.name);
        const family kind = family_of(r);
        const std::uint64_t address = 0x10 * i;
        GenICam::INode* found = doc_->find_node(r.name);
        ASSERT_NE(found, nullptr);
        GenICam::INode& reg = *found;
        const bool caches = r.mode != cache_mode::NoCache;
        struct counted_read {
            int value;
            int device_reads;
        };
        const auto read = [&] {
            const int before = device_.reads;
            const int value = read_value(reg, kind);
            return counted_read{value, device_.reads - before};
        };
        const auto put = [&](int v) {
            const std::vector<std::uint8_t> bytes = register_bytes(kind, v);
            std::copy(bytes.begin(), bytes.end(), device_.memory.begin() + static_cast<std::ptrdiff_t>(address));
        };

        put(1);
        const counted_read first = read();
        const counted_read second = read();
        EXPECT_EQ(first.value, 1);
        EXPECT_EQ(first.device_reads, 1);
        EXPECT_EQ(second.value, 1);
        EXPECT_EQ(second.device_reads, caches ? 0 : 1) << "a second read of an untouched register";

        ASSERT_FALSE(write_value(reg, kind, 2));
        EXPECT_EQ(device_.get(address, 4), register_bytes(kind, 2));
        // What the settings saved at close take: the value set, not the one
        // read before it.
        const int reads_before_cached = device_.reads;
        EXPECT_EQ(read_value(reg, kind, flags::cache_only), 2) << "a cache-only read after an accepted write";
        EXPECT_EQ(device_.reads, reads_before_cached) << "the cache-only read stays off the device";
        const counted_read after_write = read();
        EXPECT_EQ(after_write.value, 2);
        EXPECT_EQ(after_write.device_reads, r.mode == cache_mode::WriteThrough ? 0 : 1)
            << "a read after an accepted write";

        // The device changes the register by itself: only a device read sees it.
        put(3);
        const counted_read held = read();
        EXPECT_EQ(held.value, caches ? 2 : 3);
        EXPECT_EQ(held.device_reads, caches ? 0 : 1) << "a read of a register that the cache holds";

        device_.fail_writes = true;
        EXPECT_EQ(write_value(reg, kind, 4), code(errc::device_lost));
        device_.fail_writes = false;
        // Never the refused value: the cache holds what it held before the
        // write (NoCache what it last read, the caching modes the value they
        // still serve), and reads go where they went before it.
        EXPECT_EQ(read_value(reg, kind, flags::cache_only), caches ? 2 : 3)
            << "a cache-only read after a refused write";
        const counted_read after_refusal = read();
        EXPECT_EQ(after_refusal.value, caches ? 2 : 3);
        EXPECT_EQ(after_refusal.device_reads, caches ? 0 : 1) << "a read after a refused write";

        // A refused write after an accepted one, with nothing read between:
        // the accepted value stays for cache-only reads, whatever the mode.
        ASSERT_FALSE(write_value(reg, kind, 5));
        device_.fail_writes = true;
        EXPECT_EQ(write_value(reg, kind, 6), code(errc::device_lost));
        device_.fail_writes = false;
        EXPECT_EQ(read_value(reg, kind, flags::cache_only), 5) << "a cache-only read after accepted, refused";
        EXPECT_EQ(read_value(reg, kind), 5) << "what the device kept";
    }
}

TEST_F(int_reg_test, every_access_is_one_port_call_on_the_calling_thread)
{
    load(int_reg("R", "<Address>0x10</Address><Length>4</Length>"));
    std::thread worker([&] {
        EXPECT_FALSE(node("R").set_val(1));
        EXPECT_TRUE(node("R").get_val());
    });
    const std::thread::id worker_id = worker.get_id();
    worker.join();
    ASSERT_EQ(device_.calls(), 2);
    EXPECT_EQ(device_.threads[0], worker_id);
    EXPECT_EQ(device_.threads[1], worker_id);
}

TEST_F(int_reg_test, unbound_or_missing_ports_answer_their_error)
{
    auto doc = load_nodes(std::string(genicam_test::device_port) + int_reg("R", "<Address>0</Address><Length>1</Length>") +
                          int_reg("Other", "<Address>0</Address><Length>1</Length><pPort>Nowhere</pPort>"));
    log_capture log;
    EXPECT_EQ(integer(*doc, "R").get_val().error(), code(errc::invalid_parameter));
    EXPECT_EQ(integer(*doc, "Other").get_val().error(), code(errc::not_implemented));
    EXPECT_EQ(integer(*doc, "Other").set_val(1), code(errc::not_implemented));
}

TEST_F(int_reg_test, address_terms_add_constants_links_and_indexed_offsets)
{
    log_capture log;
    load(int_reg("Const", "<Address>0x1000</Address><Address>0x20</Address><Length>4</Length>") +
         int_reg("Index", "<Address>0x800</Address><Length>1</Length>") +
         int_reg("Off", "<Address>0x801</Address><Length>1</Length>") +
         R"(<IntSwissKnife Name="Base"><Formula>0x100</Formula></IntSwissKnife>)" +
         int_reg("ByKnife", "<IntSwissKnife Name=\"Inner\"><Formula>0x40</Formula></IntSwissKnife>"
                            "<Address>0x4</Address><Length>1</Length>") +
         int_reg("ByAddress", "<pAddress>Base</pAddress><pAddress>Missing</pAddress><Length>1</Length>") +
         int_reg("ByIndex", "<Address>0x100</Address><pIndex>Index</pIndex><Length>4</Length>") +
         int_reg("WithOffset", "<Address>0x100</Address><pIndex Offset=\"8\">Index</pIndex><Length>4</Length>") +
         int_reg("WithPOffset",
                 "<Address>0x100</Address><pIndex Offset=\"8\" pOffset=\"Off\">Index</pIndex><Length>4</Length>") +
         int_reg("NoLength", "<Address>0x200</Address><pLength>Nowhere</pLength>"));
    const std::string text = log.text();
    device_.put(0x800, {3, 2});
    device_.put(0x44, {0x44});
    device_.put(0x100, {0x55});
    device_.put(0x10C, {0, 0, 0, 0x0C});
    device_.put(0x118, {0, 0, 0, 0x18});
    device_.put(0x11E, {0, 0, 0, 0x1E});
    device_.put(0x200, {0, 0, 0, 0x07});
    EXPECT_EQ(node("ByKnife").get_val().value(), 0x44);
    EXPECT_EQ(node("ByAddress").get_val().value(), 0x55) << "the missing pAddress term is left out";
    EXPECT_EQ(node("ByIndex").get_val().value(), 0x0C) << "0x100 + 3 x Length";
    EXPECT_EQ(node("WithOffset").get_val().value(), 0x18) << "0x100 + 3 x 8";
    EXPECT_EQ(node("WithPOffset").get_val().value(), 0x1E) << "0x100 + 3 x (8 + 2)";
    EXPECT_EQ(node("NoLength").get_val().value(), 7) << "4 bytes long";

    device_.put(0x800, {0});
    EXPECT_EQ(node("ByIndex").get_val().value(), 0x55000000) << "a new index reaches the next read";
    device_.put(0x1020, {0, 0, 0, 0x42});
    EXPECT_EQ(node("Const").get_val().value(), 0x42);

    EXPECT_EQ(genicam_test::count_of(text, "Node contains invalid \"pAddress\" XML element."), 1u);
    EXPECT_NE(text.find("resolve_references_len, node=\"NoLength\". Node contains neither pLength nor Length XML "
                        "elements."),
              std::string::npos);
}

TEST_F(int_reg_test, an_address_cycle_fails_instead_of_recursing)
{
    load(int_reg("A", "<pAddress>B</pAddress><Length>1</Length>") +
         int_reg("B", "<pAddress>A</pAddress><Length>1</Length>"));
    bool read = true;
    std::error_code written;
    {
        log_capture log;
        read = static_cast<bool>(node("A").get_val());
        written = node("B").set_val(1);
    }
    EXPECT_FALSE(read);
    EXPECT_TRUE(written);
    EXPECT_EQ(device_.calls(), 0);
}

TEST_F(int_reg_test, a_write_invalidates_dependents_and_fires_callbacks)
{
    load(int_reg("Selector", "<Address>0x10</Address><Length>1</Length>") +
         int_reg("Selected", "<Address>0x20</Address><pAddress>Selector</pAddress><Length>1</Length>"
                             "<Cachable>WriteThrough</Cachable>"));
    int fired = 0;
    ASSERT_FALSE(node("Selected").register_callback([&](GenICam::INode&) { ++fired; }));
    device_.put(0x21, {0x21});
    EXPECT_EQ(node("Selected").get_val().value(), 0);
    EXPECT_FALSE(node("Selector").set_val(1));
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(node("Selected").get_val().value(), 0x21) << "the cached bytes of the old address are gone";
}

} // namespace
