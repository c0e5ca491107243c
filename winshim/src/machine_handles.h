// Kernel-style handles of this stand-in: small opaque numbers mapped to objects, so that a
// stale, foreign or doubly closed handle is refused with ERROR_INVALID_HANDLE instead of
// being dereferenced.
#pragma once

#include <winshim/windows.h>

#include <memory>

namespace winshim {

struct HandleObject {
    virtual ~HandleObject() = default;
};

// Registers obj and returns its new handle value (never NULL nor INVALID_HANDLE_VALUE).
HANDLE AddHandle(std::shared_ptr<HandleObject> obj);

// The object behind h if it is open and of type T, else null.
template <typename T> std::shared_ptr<T> LookupHandle(HANDLE h);

// Removes h if it is open and of type T; false otherwise.
template <typename T> bool RemoveHandle(HANDLE h);

std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE h);
std::shared_ptr<HandleObject> RemoveAnyHandle(HANDLE h);

template <typename T> std::shared_ptr<T> LookupHandle(HANDLE h) {
    return std::dynamic_pointer_cast<T>(LookupAnyHandle(h));
}

template <typename T> bool RemoveHandle(HANDLE h) {
    if (!LookupHandle<T>(h))
        return false;
    return RemoveAnyHandle(h) != nullptr;
}

} // namespace winshim
