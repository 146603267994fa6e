// Keeps exceptions inside the DLL: a COM method's body runs through Guarded, and what it
// throws (only allocation can throw in this code) becomes a result code for the caller.
#pragma once

#include <windows.h>

#include <new>

namespace shlext {

template <typename Body>
HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace shlext
