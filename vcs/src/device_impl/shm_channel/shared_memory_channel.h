#pragma once
// Carries finished frames from the service to a client process without a
// copy: four named mappings ("Global\<channel>_shared_mem_<i>"), each a
// 4096-byte header and a payload area the producer fills in place, and one
// named semaphore that counts what the client should look at. A buffer is in
// exactly one place: with the producer, in the ready queue (at most two), or
// with the client; it moves only along producer -> ready -> client ->
// producer, and a full ready queue sends a new frame straight back.
//
// The mappings and the semaphore are open to SYSTEM, the Administrators and
// the user of the client the channel is opened for, nobody else. Each open
// makes mappings and a semaphore that no earlier client holds: a mapping
// whose usual name is still taken (a client kept its view) gets a fresh
// name, and the semaphore always does. A client that kept its handles after
// its channel closed sees and disturbs nothing of the next client's frames.
//
// One mutex guards everything; the buffer-return callback runs under it and
// must not call back into the channel.

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "device_impl/device_impl_tools/frame_server_itf.h"
#include "device_impl/shm_channel/channel_security.h"
#include "device_impl/shm_channel/shared_memory.h"
#include "gen_utils/named_semaphore.h"

struct DShowDeviceServer_FrameCountInfo;

namespace win32 {

class shared_memory_channel final : public cam::frame_server_itf {
public:
    static constexpr std::size_t buffer_count = 4;
    static constexpr std::size_t ready_limit = 2;
    static constexpr LONG semaphore_maximum = 1000;
    static constexpr std::uint64_t header_size = 4096;

    using return_callback = std::function<void(cam::frame_wrapper* buffer)>;

    // Creates the semaphore "Global\<channel name><fresh GUID>", open to
    // SYSTEM, the Administrators and this process's user, that serves until
    // the first open; throws std::system_error "Failed to create semaphore".
    explicit shared_memory_channel(std::wstring channel_name);
    ~shared_memory_channel() override;

    // (Re)creates the four buffers of `payload_capacity` bytes each
    // ("Global\<channel>_shared_mem_<i>", or a fresh name while that one is
    // held) and a new semaphore ("Global\<channel><fresh GUID>"), grants them
    // to `client` (by default the user of the COM client whose call this
    // thread serves, evaluated at the call) and installs `callback`. On
    // failure no buffers are left, the previous callback stays, and the error
    // is returned (E_OUTOFMEMORY for a view that could not be mapped).
    std::error_code open(std::uint64_t payload_capacity, return_callback callback,
                         const account_sid& client = calling_client_user());
    // Everything goes: callback, buffers, ready queue, semaphore.
    void close();

    // Mapping name and id of buffer `index`; empty and 0 past the last.
    std::pair<std::wstring, std::uint32_t> read(std::size_t index) const;
    // A finished frame: queued for the client (true) or, with the ready
    // queue full, handed back to the producer and counted (false). Only a
    // buffer of this channel that the producer holds is accepted.
    bool write(cam::frame_wrapper& buffer, const cam::frame_counts& counts);

    // cam::frame_server_itf
    void update_frame_counts(const cam::frame_counts& counts) override;
    bool deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts& counts) override
    {
        return write(frame, counts);
    }

    // The client takes the oldest ready frame: S_OK with its id, S_FALSE when
    // none is ready; the counters either way.
    HRESULT take(std::uint32_t* id, cam::frame_counts* counts);
    // The client gives a frame back. Only an id it took counts; any other id
    // (twice, never taken, another channel's, from before a clear) is
    // ignored. Always S_OK.
    HRESULT give_back(std::uint64_t id);
    // Stream-channel start: queue and counters cleared, every buffer to the producer.
    void hand_all_buffers_out();
    // A new run of the stream: every frame still waiting for the client goes
    // back to the producer, counted as a frame the client did not take in
    // time (the starvation count); what the client holds stays with it. The
    // semaphore keeps its count: the client finds no frame for those wakes.
    void discard_ready();
    // Stream-channel close: queue emptied, buffers destroyed, semaphore emptied.
    // A client's handles keep their objects alive, but the next open uses
    // none of them.
    void clear();

    // The counters a take would report, without taking anything.
    cam::frame_counts counts() const;

    // The records the client of a stream channel reads, written into blocks
    // the caller zeroed. E_POINTER for a null block or out value.
    // 260 bytes: the semaphore's name (UTF-16, at most 128 characters) in
    // bytes 0-255, the number of buffers as u32 at 256.
    HRESULT write_base_data(void* block) const;
    // 256 bytes: the mapping name of buffer `index`; its id. E_INVALIDARG past
    // the last buffer.
    HRESULT write_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id) const;
    // take() into the client's 64-bit id and its 48-byte counters record.
    HRESULT take_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters);

    // The name of the current semaphore, with "Global\"; empty once closed.
    std::wstring semaphore_name() const;
    std::uint32_t buffers() const;
    std::uint64_t starvation_count() const;

private:
    enum class place { producer, ready, client };
    struct buffer {
        cam::frame_wrapper record;
        std::unique_ptr<shared_memory> memory;
        std::wstring name;
        place where = place::producer;
    };

    buffer* find(std::uint64_t id);
    void to_producer(buffer& b);
    void release_semaphore() noexcept;
    // Mapping `index` under its usual name, or under a fresh one (into
    // `name`) when the usual one is still held.
    std::unique_ptr<shared_memory> make_mapping(std::size_t index, std::uint64_t size,
                                                SECURITY_ATTRIBUTES* security, std::wstring& name) const;

    std::wstring channel_name_;
    std::unique_ptr<named_semaphore> semaphore_; // guarded by mutex_; replaced by every open
    mutable kernel_mutex mutex_;
    std::vector<std::unique_ptr<buffer>> buffers_;
    std::deque<std::uint32_t> ready_;
    cam::frame_counts counts_{};
    bool signalled_ = false;
    std::uint64_t starvation_ = 0;
    return_callback callback_;
};

} // namespace win32
