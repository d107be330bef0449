#pragma once
// Keeps C++ exceptions from crossing into the page and its controls: runs an
// operation and turns what it throws into an HRESULT.

#include <windows.h>

#include <exception>
#include <new>

#include "propertypage/hr_exception.h"

template <class Operation>
HRESULT hresult_guard(Operation&& operation) noexcept
{
    try {
        return operation();
    } catch (const genicam_adapter::hr_exception& e) {
        return e.hr();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}
