#include "engine_bench_documents.h"

#include "genicam/genicam_error.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace genicam_bench {

quiet_stdout::quiet_stdout()
{
    std::fflush(stdout);
    saved_ = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::close(null);
    }
}

quiet_stdout::~quiet_stdout()
{
    std::fflush(stdout);
    if (saved_ >= 0) {
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
}

std::unique_ptr<GenICam::impl::genicam_doc> load_document(std::string_view xml)
{
    auto doc = std::make_unique<GenICam::impl::genicam_doc>();
    const quiet_stdout quiet;
    if (!doc->load_xml(xml.data(), xml.size()))
        return nullptr;
    return doc;
}

bool memory_port::in_range(std::uint64_t address, std::int64_t length) const noexcept
{
    return length >= 0 && address <= memory.size() && static_cast<std::uint64_t>(length) <= memory.size() - address;
}

std::error_code memory_port::read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t)
{
    ++reads;
    if (!in_range(address, length))
        return GenICam::make_error_code(GenICam::errc::invalid_address);
    std::memcpy(buffer, memory.data() + address, static_cast<std::size_t>(length));
    return {};
}

std::error_code memory_port::write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t)
{
    ++writes;
    if (!in_range(address, length))
        return GenICam::make_error_code(GenICam::errc::invalid_address);
    std::memcpy(memory.data() + address, data, static_cast<std::size_t>(length));
    return {};
}

} // namespace genicam_bench
