// Loads a description, binds a small in-memory device to every device port
// and a chunk block to every chunk port, then reads and writes every register,
// converter and SwissKnife node with each combination of the cache flags.

#include "genicam/genicam_doc.h"
#include "genicam/idevice_port.h"
#include "genicam/ieval.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"
#include "genicam/iregister.h"
#include "genicam/istring.h"
#include "genicam/value_access.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// 256 bytes of device memory; every access is checked against them.
class small_device final : public GenICam::IDevicePort {
public:
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t) override
    {
        if (!fits(address, length)) {
            return GenICam::make_error_code(GenICam::errc::invalid_address);
        }
        std::memcpy(buffer, memory.data() + address, static_cast<std::size_t>(length));
        return {};
    }
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t) override
    {
        if (!fits(address, length) || (++writes % 5) == 0) {
            return GenICam::make_error_code(GenICam::errc::device_lost);
        }
        std::memcpy(memory.data() + address, data, static_cast<std::size_t>(length));
        return {};
    }

    std::array<std::uint8_t, 256> memory{};

private:
    bool fits(std::uint64_t address, std::int64_t length) const
    {
        return length >= 0 && address <= memory.size() && static_cast<std::uint64_t>(length) <= memory.size() - address;
    }
    unsigned writes = 0;
};

constexpr std::uint32_t flag_sets[] = {0, GenICam::access_flags::cache_only, GenICam::access_flags::bypass_cache,
                                       GenICam::access_flags::skip_access_check};

void touch(GenICam::INode& node)
{
    using namespace GenICam;
    for (const std::uint32_t flags : flag_sets) {
        if (auto* i = impl::node_as<IInteger>(node)) {
            const auto v = i->get_val(flags);
            // One more, wrapping past the largest value instead of overflowing.
            const auto next = static_cast<std::int64_t>(static_cast<std::uint64_t>(v ? v.value() : -2) + 1);
            (void)i->set_val(next, flags);
            (void)i->get_min(flags);
            (void)i->get_max(flags);
        }
        if (auto* f = impl::node_as<IFloat>(node)) {
            const auto v = f->get_val(flags);
            (void)f->set_val(v ? v.value() * 2 : 1.5, flags);
            (void)f->get_min(flags);
        }
        if (auto* s = impl::node_as<IString>(node)) {
            (void)s->get_val(flags);
            (void)s->set_val("abc", flags);
        }
        if (auto* r = impl::node_as<IRegister>(node)) {
            std::uint8_t buffer[16] = {};
            (void)r->get_bytes(buffer, sizeof buffer, flags);
            (void)r->set_bytes(buffer, 3, flags);
            (void)r->get_address(flags);
            (void)r->get_length(flags);
        }
        if (auto* p = impl::node_as<IPort>(node)) {
            (void)p->get_chunk_id(flags);
        }
    }
    node.get_eval().invalidate();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The engine logs to standard output; keep the fuzzer's output readable.
    (void)std::freopen("/dev/null", "w", stdout);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    GenICam::impl::genicam_doc doc;
    if (!doc.load_xml(reinterpret_cast<const char*>(data), size, {})) {
        return 0;
    }
    small_device device;
    std::vector<std::uint8_t> chunk(64, 0x5A);
    doc.for_each_node([&](GenICam::INode& node) {
        if (auto* p = GenICam::impl::node_as<GenICam::IPort>(node)) {
            (void)p->bind(&device);
            (void)p->attach_chunk(0x40, chunk.data(), static_cast<std::int64_t>(chunk.size()));
        }
    });
    doc.for_each_node(touch);
    return 0;
}
