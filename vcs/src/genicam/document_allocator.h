#pragma once
// The arena in which every node of a document lives. The planning walk
// announces sizes, prepare() sizes one block, the creation walk takes from it.
// The block never grows; a request past its end is refused (null).

#include "genicam/alloc_itf.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace GenICam::impl {

class document_allocator final : public alloc_itf {
public:
    document_allocator() = default;
    document_allocator(const document_allocator&) = delete;
    document_allocator& operator=(const document_allocator&) = delete;
    // Runs every destroy record in registration order, then frees the block.
    ~document_allocator();

    void* allocate(std::size_t size) override;
    void* allocate_array(std::size_t count, std::size_t size) override;
    void reserve(std::size_t size, std::size_t count, std::size_t alignment, bool has_destroy) override;
    destroy_record& register_destroy(const destroy_record& record) override;

    // Sizes the block to the announced bytes + 16. Raises std::bad_alloc when
    // that memory cannot be had.
    void prepare();

    std::size_t announced_bytes() const noexcept { return announced_bytes_; }
    std::size_t handed_out() const noexcept { return handed_out_; }
    std::size_t announced_records() const noexcept { return announced_records_; }

private:
    std::vector<destroy_record> destroy_records_;
    std::unique_ptr<std::byte[]> block_;
    std::byte* base_ = nullptr;
    std::size_t handed_out_ = 0;
    std::size_t announced_bytes_ = 0;
    std::size_t announced_records_ = 0;
    std::size_t usable_ = 0;
};

} // namespace GenICam::impl
