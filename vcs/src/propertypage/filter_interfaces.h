#pragma once
// The capture filter's interfaces as an item holds them: owning references,
// taken from the filter's IKsPropertySet.

#include <windows.h>
#include <strmif.h>

#include "atl/com_ptr.h"

// A reference of our own to an interface the caller lends us.
template <class I>
atl::com_ptr<I> retain(I* lent) noexcept
{
    if (lent != nullptr) {
        lent->AddRef();
    }
    return atl::com_ptr<I>(lent);
}

// The filter's interface I, or null when it offers none.
template <class I>
atl::com_ptr<I> query_filter(IKsPropertySet* filter) noexcept
{
    atl::com_ptr<I> found;
    if (filter != nullptr && FAILED(filter->QueryInterface(__uuidof(I), found.put_void()))) {
        found.reset();
    }
    return found;
}

struct item_descriptor;
