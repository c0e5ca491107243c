#pragma once

#include <filesystem>
#include <string>

// A fresh temporary folder made the current directory while the object lives.
class ScopedWorkDir {
  public:
    ScopedWorkDir() : previous_(std::filesystem::current_path()) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quelda-app-XXXXXX").string();
        dir_ = ::mkdtemp(pattern.data());
        std::filesystem::current_path(dir_);
    }
    ~ScopedWorkDir() {
        std::error_code ec;
        std::filesystem::current_path(previous_, ec);
        std::filesystem::remove_all(dir_, ec);
    }
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

    const std::filesystem::path& dir() const { return dir_; }

  private:
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};
