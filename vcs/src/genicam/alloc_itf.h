#pragma once
// The node arena as nodes and the node factory see it.

#include <cstddef>

namespace GenICam::impl {

// Frees what one node holds outside the arena; the node's memory stays.
struct destroy_record {
    void (*destroy)(void* node);
    void* node;
};

class alloc_itf {
public:
    // Memory for one object; null when the request would pass the end of the
    // block that the planning walk announced.
    virtual void* allocate(std::size_t size) = 0;
    virtual void* allocate_array(std::size_t count, std::size_t size) = 0;
    // Planning: announces count x size bytes (rounded up to 8) and, with
    // has_destroy, count destroy records. All objects are 8-aligned.
    virtual void reserve(std::size_t size, std::size_t count, std::size_t alignment, bool has_destroy) = 0;
    virtual destroy_record& register_destroy(const destroy_record& record) = 0;

protected:
    ~alloc_itf() = default;
};

// Typed helpers over allocate_array. Null on refusal.
template <class T>
T* allocate_objects(alloc_itf& alloc, std::size_t count)
{
    static_assert(alignof(T) <= 8, "arena objects are 8-aligned");
    return static_cast<T*>(alloc.allocate_array(count, sizeof(T)));
}

} // namespace GenICam::impl
