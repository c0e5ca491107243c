#pragma once

#include <cstdint>
#include <string>

// The bytes this program may still write on the drive of a folder (a Windows path, UTF-8),
// as GetDiskFreeSpaceExW tells them (quotas included). False when they cannot be read.
bool FreeBytesForCaller(const std::string& windowsFolder, std::uint64_t& freeBytes);
