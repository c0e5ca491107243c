#pragma once

#include <chrono>

// Peak resident set size of this process in KiB, and a reset of it (Linux).
long PeakRssKiB();
void ResetPeakRss();

double SecondsSince(std::chrono::steady_clock::time_point start);
