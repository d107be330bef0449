#include "genicam/document_allocator.h"

#include <cstdint>
#include <limits>
#include <new>

namespace GenICam::impl {

namespace {

constexpr std::size_t saturated = std::numeric_limits<std::size_t>::max();

// count x size rounded up to 8; saturates instead of wrapping.
std::size_t padded_bytes(std::size_t count, std::size_t size) noexcept
{
    if (size != 0 && count > (saturated - 7) / size) {
        return saturated;
    }
    return (count * size + 7) & ~std::size_t{7};
}

std::size_t saturating_add(std::size_t a, std::size_t b) noexcept
{
    return b > saturated - a ? saturated : a + b;
}

} // namespace

document_allocator::~document_allocator()
{
    for (const destroy_record& record : destroy_records_) {
        record.destroy(record.node);
    }
}

void* document_allocator::allocate(std::size_t size)
{
    return allocate_array(1, size);
}

void* document_allocator::allocate_array(std::size_t count, std::size_t size)
{
    const std::size_t bytes = padded_bytes(count, size);
    if (base_ == nullptr || bytes > usable_ - handed_out_) {
        return nullptr;
    }
    void* p = base_ + handed_out_;
    handed_out_ += bytes;
    return p;
}

void document_allocator::reserve(std::size_t size, std::size_t count, std::size_t /*alignment*/, bool has_destroy)
{
    announced_bytes_ = saturating_add(announced_bytes_, padded_bytes(count, size));
    if (has_destroy) {
        announced_records_ = saturating_add(announced_records_, count);
    }
}

destroy_record& document_allocator::register_destroy(const destroy_record& record)
{
    return destroy_records_.emplace_back(record);
}

void document_allocator::prepare()
{
    if (announced_bytes_ > saturated - 16) {
        throw std::bad_alloc();
    }
    const std::size_t block_size = announced_bytes_ + 16;
    block_ = std::make_unique_for_overwrite<std::byte[]>(block_size);
    const auto address = reinterpret_cast<std::uintptr_t>(block_.get());
    const std::size_t skip = (8 - (address & 7)) & 7;
    base_ = block_.get() + skip;
    usable_ = block_size - skip;
    handed_out_ = 0;
    destroy_records_.reserve(announced_records_);
}

} // namespace GenICam::impl
