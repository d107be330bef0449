#pragma once
// A process-wide holder of a shared object: users copy the pointer out and
// work with their own counted copy; the service module fills and empties it.
// Copying and emptying are atomic with respect to each other, and the object
// is released outside the holder's lock (its destructor may join threads).

#include <memory>
#include <mutex>
#include <utility>

template <class T>
class instance_holder {
public:
    [[nodiscard]] std::shared_ptr<T> get() const
    {
        const std::lock_guard lock(mutex_);
        return instance_;
    }

    // Stores `instance`; the object held before is released after the lock.
    void set(std::shared_ptr<T> instance)
    {
        {
            const std::lock_guard lock(mutex_);
            std::swap(instance_, instance);
        }
        instance.reset();
    }

    // Empties the holder and hands back what it held.
    std::shared_ptr<T> take()
    {
        std::shared_ptr<T> taken;
        const std::lock_guard lock(mutex_);
        std::swap(taken, instance_);
        return taken;
    }

    // Empties the holder and releases what it held (outside the lock).
    void reset() { take().reset(); }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<T> instance_;
};
