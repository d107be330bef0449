#include "u3v_test_bench.h"

#include "gen_utils/log.h"

namespace u3v_test {

log_lines::log_lines() : saved_level_(service_log_level.load()), saved_mask_(log_category_mask.load())
{
    service_log_level = 3;
    log_category_mask = 0xFF0000;
    set_log_sink(1, [this](std::uint32_t, const char* text) {
        std::lock_guard guard(lock_);
        lines_.emplace_back(text);
    });
}

log_lines::~log_lines()
{
    set_log_sink(1, nullptr);
    service_log_level = saved_level_;
    log_category_mask = saved_mask_;
}

std::vector<std::string> log_lines::lines() const
{
    std::lock_guard guard(lock_);
    return lines_;
}

std::size_t log_lines::count(const std::string& part) const
{
    std::lock_guard guard(lock_);
    std::size_t n = 0;
    for (const auto& line : lines_) {
        n += line.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
}

u3v_bench::u3v_bench(u3v_com::genicam_file_cache* cache)
    : own_cache(cache == nullptr ? std::make_unique<u3v_com::genicam_file_cache>() : nullptr),
      port(cache == nullptr ? *own_cache : *cache)
{
}

u3v_bench::~u3v_bench()
{
    device.reset();
    const auto found = kmdf::violations();
    EXPECT_TRUE(found.empty()) << found.front();
}

bool u3v_bench::start()
{
    const NTSTATUS status = io.start();
    EXPECT_EQ(status, STATUS_SUCCESS);
    if (status != STATUS_SUCCESS) {
        return false;
    }
    auto file = nox_um::usb_device_handle::open(io.device_path(), io);
    EXPECT_TRUE(file.has_value());
    if (!file.has_value()) {
        return false;
    }
    device.emplace(std::move(file).value(), io.device_path());
    return true;
}

} // namespace u3v_test
