#pragma once

#include <chrono>
#include <filesystem>

// The temporary ".part" files of downloads: "<target>.<process id>-<n>.part" beside the
// target while its body arrives.

// A new, unused name beside `target`, counted as in progress until ForgetPartFile.
std::filesystem::path NewPartFile(const std::filesystem::path& target);
void ForgetPartFile(const std::filesystem::path& part);

// Removes the ".part" files in the folder that no download of this process writes and
// that nothing has written for a few minutes (a live download writes far more often,
// whichever process runs it): what a run that was killed mid-download left.
void RemoveStalePartFiles(const std::filesystem::path& folder);

// For shutdown: downloads in progress stop at their next piece and discard their file;
// after `wait` the files still there are removed here. Downloads started later stop at
// once.
void AbortDownloads(std::chrono::milliseconds wait);
bool DownloadsAborted();
