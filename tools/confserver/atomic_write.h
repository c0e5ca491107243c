#pragma once

#include <string>

// Replaces file with content: a temporary file in the same folder is written, flushed to disk
// and renamed over it, so that readers see the old or the new content, never a mix. The file
// keeps its permissions. On failure the original is untouched and false is returned.
bool WriteFileAtomically(const std::string& file, const std::string& content, std::string& error);
