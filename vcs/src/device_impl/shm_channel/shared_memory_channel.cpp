#include "device_impl/shm_channel/shared_memory_channel.h"

#include <algorithm>

#include <cstring>
#include <mutex>

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"

namespace win32 {

namespace {

void store_le32(std::uint8_t* at, std::uint64_t value) noexcept
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

} // namespace

shared_memory_channel::shared_memory_channel(std::wstring channel_name)
    : channel_name_(std::move(channel_name)),
      semaphore_(std::make_unique<named_semaphore>(make_unique_global_name(channel_name_), semaphore_maximum,
                                                   make_channel_security(process_user()).get()))
{
}

std::unique_ptr<shared_memory> shared_memory_channel::make_mapping(std::size_t index, std::uint64_t size,
                                                                   SECURITY_ATTRIBUTES* security,
                                                                   std::wstring& name) const
{
    const std::wstring usual = channel_name_ + L"_shared_mem_" + std::to_wstring(index);
    name = L"Global\\" + usual;
    try {
        return std::make_unique<shared_memory>(name, size, security);
    } catch (const std::system_error& error) {
        if (error.code() != std::error_code(ERROR_ALREADY_EXISTS, std::system_category())) {
            throw;
        }
    }
    // Someone (a client of an earlier channel that kept its views) still
    // holds the usual name. Clients read the names from the channel, so a
    // fresh one serves the new client as well, and shares nothing.
    name = make_unique_global_name(usual + L"_");
    log_line(logging::level_warning,
             "[CamTovra] win32::shared_memory_channel::open, \"{}\" is still held, buffer {} is \"{}\".\n",
             utils::to_utf8(usual), index, utils::to_utf8(name));
    return std::make_unique<shared_memory>(name, size, security);
}

shared_memory_channel::~shared_memory_channel()
{
    close();
}

std::error_code shared_memory_channel::open(std::uint64_t payload_capacity, return_callback callback,
                                            const account_sid& client)
{
    std::lock_guard lock(mutex_);
    buffers_.clear();
    ready_.clear();
    if (semaphore_) {
        semaphore_->drain();
    }
    signalled_ = false;

    std::vector<std::unique_ptr<buffer>> made;
    std::unique_ptr<named_semaphore> semaphore;
    try {
        auto security = make_channel_security(client);
        // A semaphore of its own: a client of an earlier channel that kept
        // its handle can neither see this client's frames counted nor wake
        // it with counts of its own.
        semaphore = std::make_unique<named_semaphore>(make_unique_global_name(channel_name_), semaphore_maximum,
                                                      security.get());
        const std::uint64_t size = payload_capacity + header_size;
        for (std::size_t i = 0; i < buffer_count; ++i) {
            auto b = std::make_unique<buffer>();
            b->memory = make_mapping(i, size, security.get(), b->name);
            b->record.id = cam::next_frame_id();
            b->record.size = size;
            b->record.header_size = header_size;
            b->record.capacity = payload_capacity;
            b->record.buffer = b->memory->view();
            made.push_back(std::move(b));
        }
    } catch (const std::system_error& error) {
        log_line(logging::level_error, "Failed to allocate stream_channel buffer \"{}\" due to : \"{}\".\n",
                 utils::to_utf8(channel_name_), error.what());
        return error.code();
    } catch (const std::exception& error) {
        log_line(logging::level_error, "Failed to allocate stream_channel buffer \"{}\" due to : \"{}\".\n",
                 utils::to_utf8(channel_name_), error.what());
        return {static_cast<int>(E_OUTOFMEMORY), std::system_category()};
    }

    buffers_ = std::move(made);
    semaphore_ = std::move(semaphore);
    for (auto& b : buffers_) {
        std::uint8_t* header = b->record.buffer;
        store_le32(header + 0x00, b->record.size);
        store_le32(header + 0x04, b->record.id);
        store_le32(header + 0x08, header_size);
        store_le32(header + 0x0C, payload_capacity);
        store_le32(header + 0x10, 0);
        std::memset(header + 0x14, 0, 0xE0 - 0x14);
        b->record.valid_data_size_ = 0;
        b->record.offset = 0;
        b->where = place::producer;
    }
    callback_ = std::move(callback);
    return {};
}

void shared_memory_channel::close()
{
    std::lock_guard lock(mutex_);
    callback_ = nullptr;
    buffers_.clear();
    ready_.clear();
    semaphore_.reset();
}

std::pair<std::wstring, std::uint32_t> shared_memory_channel::read(std::size_t index) const
{
    std::lock_guard lock(mutex_);
    if (index >= buffers_.size()) {
        return {std::wstring(), 0};
    }
    return {buffers_[index]->name, buffers_[index]->record.id};
}

shared_memory_channel::buffer* shared_memory_channel::find(std::uint64_t id)
{
    for (auto& b : buffers_) {
        if (b->record.id == id) {
            return b.get();
        }
    }
    return nullptr;
}

void shared_memory_channel::to_producer(buffer& b)
{
    b.where = place::producer;
    if (callback_) {
        callback_(&b.record);
    }
}

bool shared_memory_channel::write(cam::frame_wrapper& frame, const cam::frame_counts& counts)
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
    counts_ = counts;
    buffer* b = find(frame.id);
    if (b == nullptr || &b->record != &frame || b->where != place::producer) {
        log_line(logging::level_error,
                 "[CamTovra] win32::shared_memory_channel::write, frame {} is no buffer the producer holds.\n",
                 frame.id);
        return false;
    }
    if (ready_.size() >= ready_limit) {
        // Older frames are kept: the new one goes straight back.
        ++starvation_;
        to_producer(*b);
        release_semaphore();
        return false;
    }
    store_le32(frame.buffer + 0x10, frame.valid_data_size_);
    store_le32(frame.buffer + 0x08, frame.offset + frame.header_size);
    b->where = place::ready;
    ready_.push_back(frame.id);
    release_semaphore();
    return true;
}

void shared_memory_channel::update_frame_counts(const cam::frame_counts& counts)
{
    std::lock_guard lock(mutex_);
    counts_ = counts;
    if (!signalled_) {
        signalled_ = true;
        release_semaphore();
    }
}

HRESULT shared_memory_channel::take(std::uint32_t* id, cam::frame_counts* counts)
{
    std::lock_guard lock(mutex_);
    signalled_ = false;
    if (counts != nullptr) {
        *counts = counts_;
        counts->frames_dropped_due_to_dshow_buffer_starvation += starvation_;
    }
    if (ready_.empty()) {
        return S_FALSE;
    }
    const std::uint32_t taken = ready_.front();
    ready_.pop_front();
    if (buffer* b = find(taken)) {
        b->where = place::client;
    }
    if (id != nullptr) {
        *id = taken;
    }
    return S_OK;
}

HRESULT shared_memory_channel::give_back(std::uint64_t id)
{
    std::lock_guard lock(mutex_);
    buffer* b = find(id);
    if (b == nullptr || b->where != place::client) {
        // Twice, never taken, of another channel or of a cleared open: the
        // buffer is elsewhere, and queuing it again would let the producer
        // write while a client reads.
        log_line(logging::level_trace,
                 "[CamTovra] win32::shared_memory_channel::give_back, ignored frame id {} the client does not hold.\n",
                 id);
        return S_OK;
    }
    to_producer(*b);
    return S_OK;
}

void shared_memory_channel::hand_all_buffers_out()
{
    std::lock_guard lock(mutex_);
    ready_.clear();
    counts_ = {};
    signalled_ = false;
    starvation_ = 0;
    for (auto& b : buffers_) {
        to_producer(*b);
    }
}

void shared_memory_channel::discard_ready()
{
    std::lock_guard lock(mutex_);
    for (const std::uint32_t id : ready_) {
        if (buffer* b = find(id)) {
            ++starvation_;
            to_producer(*b);
        }
    }
    ready_.clear();
}

void shared_memory_channel::clear()
{
    std::lock_guard lock(mutex_);
    ready_.clear();
    buffers_.clear();
    if (semaphore_) {
        semaphore_->drain();
    }
    signalled_ = false;
}

void shared_memory_channel::release_semaphore() noexcept
{
    if (semaphore_) {
        // A failing release (maximum reached) is not the producer's concern.
        (void)semaphore_->release(1);
    }
}

std::wstring shared_memory_channel::semaphore_name() const
{
    std::lock_guard lock(mutex_);
    return semaphore_ ? semaphore_->name() : std::wstring();
}

cam::frame_counts shared_memory_channel::counts() const
{
    std::lock_guard lock(mutex_);
    cam::frame_counts counts = counts_;
    counts.frames_dropped_due_to_dshow_buffer_starvation += starvation_;
    return counts;
}

std::uint32_t shared_memory_channel::buffers() const
{
    std::lock_guard lock(mutex_);
    return static_cast<std::uint32_t>(buffers_.size());
}

std::uint64_t shared_memory_channel::starvation_count() const
{
    std::lock_guard lock(mutex_);
    return starvation_;
}

namespace {
constexpr std::size_t name_block_chars = 128;
constexpr std::size_t base_data_count_offset = 256;

void write_name(void* block, const std::wstring& name)
{
    const std::size_t chars = std::min(name.size(), name_block_chars);
    std::memcpy(block, name.data(), chars * sizeof(wchar_t));
}
} // namespace

HRESULT shared_memory_channel::write_base_data(void* block) const
{
    if (block == nullptr) {
        return E_POINTER;
    }
    write_name(block, semaphore_name());
    const std::uint32_t count = buffers();
    std::memcpy(static_cast<std::uint8_t*>(block) + base_data_count_offset, &count, sizeof(count));
    return S_OK;
}

HRESULT shared_memory_channel::write_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id) const
{
    if (block == nullptr || frame_id == nullptr) {
        return E_POINTER;
    }
    const auto [name, id] = read(index);
    if (name.empty()) {
        return E_INVALIDARG;
    }
    write_name(block, name);
    *frame_id = id;
    return S_OK;
}

HRESULT shared_memory_channel::take_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters)
{
    if (frame_id == nullptr || counters == nullptr) {
        return E_POINTER;
    }
    std::uint32_t id = 0;
    cam::frame_counts counts{};
    const HRESULT hr = take(&id, &counts);
    // The client's record has the six counters in the same order.
    std::memcpy(static_cast<void*>(counters), &counts, sizeof(counts));
    if (hr == S_OK) {
        *frame_id = id;
    }
    return hr;
}

} // namespace win32
