#pragma once

#include <cstdio>
#include <string>

// Writes UTF-8 text to a standard stream. On Windows, a stream that is a console gets it
// through WriteConsoleW, so that Chinese reads right whatever the console's code page; a
// file or a pipe (and any stream elsewhere) gets the UTF-8 bytes as they are. False when
// the text could not be written in full.
bool WriteStreamText(std::FILE* stream, const std::string& utf8);
