#pragma once

#include <string>

// Writes the report to `target`, a file name in the local code page. A regular file (or a
// new one) is replaced atomically; a symbolic link keeps its place and its target is
// written; what is not a regular file (a FIFO, a device such as /dev/stdout, NUL or CON) is
// written in place. False when the report did not all arrive.
bool WriteReportFile(const std::string& target, const std::string& body);
