#include "machine_handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace winshim {

namespace {
std::mutex tableMutex;
std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>> table;
uintptr_t nextValue = 0x100;
} // namespace

HANDLE AddHandle(std::shared_ptr<HandleObject> obj) {
    std::lock_guard<std::mutex> lock(tableMutex);
    // Multiples of 4 as on Windows; values are not reused until the counter wraps.
    uintptr_t value = nextValue;
    while (table.count(value) || value == 0 ||
           value == reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE))
        value += 4;
    nextValue = value + 4;
    table.emplace(value, std::move(obj));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<HandleObject> LookupAnyHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(tableMutex);
    auto it = table.find(reinterpret_cast<uintptr_t>(h));
    return it == table.end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> RemoveAnyHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(tableMutex);
    auto it = table.find(reinterpret_cast<uintptr_t>(h));
    if (it == table.end())
        return nullptr;
    auto obj = std::move(it->second);
    table.erase(it);
    return obj;
}

} // namespace winshim
