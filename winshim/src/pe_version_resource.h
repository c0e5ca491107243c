// Finds the version resource (RT_VERSION) of a PE image: the VS_VERSIONINFO block that
// GetFileVersionInfo hands out.
#pragma once

#include "pe_source.h"

#include <cstdint>
#include <vector>

namespace winshim {

// On success fills block with the VS_VERSIONINFO bytes (its wLength no larger than the
// block) and returns 0; otherwise returns ERROR_BAD_FORMAT (not a PE image),
// ERROR_RESOURCE_DATA_NOT_FOUND (no usable resource section or data) or
// ERROR_RESOURCE_TYPE_NOT_FOUND (resources, but no RT_VERSION) or
// ERROR_RESOURCE_NAME_NOT_FOUND (RT_VERSION, but not VS_VERSION_INFO, id 1).
unsigned long ReadVersionResource(const ByteSource& image, std::vector<uint8_t>& block);

} // namespace winshim
