#pragma once

#include <string>

// The result text the check panel shows in a row for the code that row's check signalled
// (UTF-8). `row` is a CheckRowIndex.
std::string RowResultText(int row, int code);

// The name the panel gives a row ("网络连接检测", ...).
std::string RowName(int row);

// How an install or repair of a row's item ended, for the person who asked for it. `code`
// is what the install job signalled for that item (for the CA drivers, minus the number of
// installers that failed, or -3).
std::string InstallOutcomeText(int row, int code);
