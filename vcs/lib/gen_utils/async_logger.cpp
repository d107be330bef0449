#include "gen_utils/async_logger.h"

#include "gen_utils/log.h"
#include "gen_utils/thread_name.h"

namespace utils {

async_logger& async_logger::instance()
{
    static async_logger logger;
    static std::once_flag started;
    std::call_once(started, [] { logger.start(); });
    return logger;
}

async_logger::~async_logger()
{
    stop();
}

void async_logger::start()
{
    stop();
    std::lock_guard lock(mutex_);
    stop_ = false;
    thread_ = std::thread([this] { run(); });
}

void async_logger::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.clear();
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void async_logger::post(entry e)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(e));
    }
    wake_.notify_one();
}

bool async_logger::running() const
{
    return thread_.joinable();
}

std::size_t async_logger::pending() const
{
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void async_logger::run()
{
    set_thread_description("async_logger_thread");
    for (;;) {
        std::vector<entry> taken;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) {
                return;
            }
            taken.swap(queue_);
        }
        for (auto& e : taken) {
            if (e.producer) {
                std::string text;
                try {
                    text = e.producer();
                } catch (...) {
                    continue;
                }
                log_write(e.code, text.c_str());
            } else {
                log_write(e.code, e.text.c_str());
            }
        }
    }
}

} // namespace utils
