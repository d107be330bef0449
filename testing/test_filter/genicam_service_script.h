#pragma once
// The camera service's GenICam-access set as a scripted backend answers it:
// id 1 (document size) and id 2 (document bytes) for instance data
// {selector, index}, id 4 (named access: the request text at offset 8 of an
// instance of 10 to 1000 bytes) from a table of request texts, and, when
// switched on, id 3 (register access at an 8-byte address) over a block of
// memory. Named writes are recorded and become the value read back.
//
// The test sets the script between calls; the responders read it under
// `lock_` (they run on the caller's thread under the backend's lock).

#include "test_filter/scripted_backend.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace test_filter {

struct named_write {
    std::string request;
    std::vector<std::uint8_t> data;
};

class genicam_service_script {
public:
    genicam_service_script();
    // Installs the responders of ids 1 to 4 on `backend`.
    void install(scripted_backend& backend);

    void add_document(std::string xml);
    // Refuses {1, 0} for id 1 and 2 and answers {0, 0} instead, as a service
    // that knows one document under selector 0.
    void refuse_selector_one_for_first(bool refuse);
    // Id 1 reports `size` for document `index` instead of its length.
    void report_size(std::uint32_t index, std::uint32_t size);
    // Id 2 copies and reports only `count` bytes of document `index`.
    void deliver_bytes(std::uint32_t index, std::uint32_t count);

    // Named access: 8-byte values, or entry names for "/SelectedEntry".
    void set_named(const std::string& request, std::vector<std::uint8_t> value);
    void set_named_int(const std::string& request, std::int64_t value);
    void set_named_double(const std::string& request, double value);
    void set_named_text(const std::string& request, const std::string& text);
    void fail_named(const std::string& request, HRESULT hr);
    std::vector<named_write> named_writes() const;
    // Every request text that reached id 4, reads and writes.
    std::vector<std::string> named_requests() const;

    // Register access: 4 KiB of memory at addresses 0 to 0xFFF. Without it
    // (the default, as the service) id 3 is not answered at all; set before
    // install().
    void serve_registers(bool serve);
    void put_register(std::uint64_t address, std::vector<std::uint8_t> bytes);
    std::vector<std::uint8_t> register_bytes(std::uint64_t address, std::size_t count) const;

private:
    struct state;
    std::shared_ptr<state> state_;
};

} // namespace test_filter
