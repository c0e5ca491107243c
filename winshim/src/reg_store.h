// The registry file of the machine folder, shared by the threads of this process and by
// other processes. Reads run under a shared lock, changes under an exclusive one (a mutex
// between threads, flock on "registry.reg.lock" between processes); a change is written to
// a temporary file in the same folder, flushed to disk and renamed over "registry.reg".
// The file is read by every operation, so that other processes' changes are seen; it is
// parsed again only when its bytes changed. A file that does not parse is never
// written over.
#pragma once

#include "reg_model.h"
#include "reg_parse.h"

#include <chrono>
#include <functional>
#include <string>

namespace winshim::reg {

// How long an operation waits for another process's lock on the registry file before it
// fails with ERROR_LOCK_VIOLATION (10 s; tests shorten it). After such a time-out, later
// operations fail at once until they find the lock free.
void SetLockWait(std::chrono::milliseconds wait);

// <machine>/registry.reg
std::string RegistryFilePath();

// Runs read on the current registry. Returns read's result, or ERROR_BADDB when the file
// does not parse (details in *error), ERROR_CANTREAD when it cannot be read,
// ERROR_LOCK_VIOLATION when another process keeps the registry locked.
long ReadRegistry(const std::function<long(const RegModel&)>& read, ParseError* error = nullptr);

// Runs change on a copy of the current registry; when it returns ERROR_SUCCESS and set
// *changed, the copy becomes the registry. Errors as ReadRegistry, plus ERROR_CANTWRITE or
// ERROR_ACCESS_DENIED when the file cannot be written (the registry is then unchanged).
long ModifyRegistry(const std::function<long(RegModel&, bool* changed)>& change,
                    ParseError* error = nullptr);

} // namespace winshim::reg
