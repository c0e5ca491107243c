#pragma once

#include <chrono>

#include "peak_rss.h"

double SecondsSince(std::chrono::steady_clock::time_point start);
