// The one place that decides which Windows API the probes get: the real one on Windows,
// winshim's stand-in elsewhere.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// <windows.h> must come first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <winver.h>
// clang-format on
#include <ctime>
#else
#include <winshim/windows.h>
#endif
