#pragma once
// COM object base: QueryInterface over a list of interfaces, and the two ways
// an object's references are counted (a heap object that deletes itself, a
// process-wide object whose references lock the server module).

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <new>
#include <type_traits>

#include "atl/server_module.h"

namespace atl {

namespace detail {
template <class T, class = void>
struct interface_of {
    using type = T;
};
// A mix-in that implements an interface (dispatch_impl) names it.
template <class T>
struct interface_of<T, std::void_t<typename T::interface_type>> {
    using type = typename T::interface_type;
};
template <class T>
using interface_of_t = typename interface_of<T>::type;
} // namespace detail

// Derives from every listed interface (or interface mix-in) and answers
// QueryInterface for each of them, for IUnknown (the first one) and, when an
// interface is dual, for IDispatch (the first dual one). AddRef and Release
// come from the most derived wrapper: heap_object or global_object.
template <class... Interfaces>
class com_object : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0);

public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = find_interface(iid);
        if (*object == nullptr) {
            return E_NOINTERFACE;
        }
        static_cast<IUnknown*>(*object)->AddRef();
        return S_OK;
    }

protected:
    com_object() = default;
    virtual ~com_object() = default;

private:
    using first = std::tuple_element_t<0, std::tuple<detail::interface_of_t<Interfaces>...>>;

    void* find_interface(REFIID iid)
    {
        if (IsEqualIID(iid, IID_IUnknown)) {
            return static_cast<IUnknown*>(static_cast<first*>(this));
        }
        void* found = nullptr;
        ((found == nullptr && IsEqualIID(iid, __uuidof(detail::interface_of_t<Interfaces>))
              ? (found = static_cast<detail::interface_of_t<Interfaces>*>(this))
              : nullptr),
         ...);
        if (found == nullptr && IsEqualIID(iid, IID_IDispatch)) {
            ((found == nullptr && std::is_base_of_v<IDispatch, detail::interface_of_t<Interfaces>>
                  ? (found = dispatch_of<detail::interface_of_t<Interfaces>>())
                  : nullptr),
             ...);
        }
        return found;
    }

    template <class I>
    void* dispatch_of()
    {
        if constexpr (std::is_base_of_v<IDispatch, I>) {
            return static_cast<IDispatch*>(static_cast<I*>(this));
        } else {
            return nullptr;
        }
    }
};

// An object made with new for one client: deleted with its last reference.
template <class T>
class heap_object final : public T {
public:
    template <class... Args>
    explicit heap_object(Args&&... args) : T(std::forward<Args>(args)...)
    {
    }

    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // Makes an object and hands out `iid` on it; the creation reference is
    // dropped, so a failed query destroys it again.
    template <class... Args>
    static HRESULT create(REFIID iid, void** object, Args&&... args) noexcept
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        try {
            auto* created = new heap_object(std::forward<Args>(args)...);
            created->AddRef();
            const HRESULT hr = created->QueryInterface(iid, object);
            created->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }

private:
    std::atomic<ULONG> references_{0};
};

// The one object of a singleton class, alive for the whole process. A client's
// reference keeps the server running: AddRef locks the module, Release unlocks it.
template <class T>
class global_object final : public T {
public:
    STDMETHODIMP_(ULONG) AddRef() override
    {
        module_lock();
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        module_unlock();
        return 1;
    }
};

} // namespace atl
