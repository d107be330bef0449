#pragma once
// Appends the texts of a map-strings interface to the caller's list, all or
// nothing.

#include <windows.h>

#include "atl/bstr.h"

#include <initializer_list>
#include <string_view>
#include <vector>

// S_OK, or E_OUTOFMEMORY with the list unchanged. `add` is any range of
// texts that convert to std::wstring_view.
template <class Range>
HRESULT append_map_strings(std::vector<atl::bstr>& texts, const Range& add) noexcept
{
    try {
        std::vector<atl::bstr> made;
        for (const auto& text : add) {
            atl::bstr entry{std::wstring_view(text)};
            if (!entry) {
                return E_OUTOFMEMORY;
            }
            made.push_back(std::move(entry));
        }
        texts.reserve(texts.size() + made.size());
        for (atl::bstr& entry : made) {
            texts.push_back(std::move(entry));
        }
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

inline HRESULT append_map_strings(std::vector<atl::bstr>& texts, std::initializer_list<std::wstring_view> add) noexcept
{
    return append_map_strings<std::initializer_list<std::wstring_view>>(texts, add);
}
