#pragma once

#include <filesystem>
#include <string>

// A fresh machine folder for one test: QUELDA_MACHINE points at it while the object
// lives, and it is removed afterwards. On Windows it is only a scratch folder.
class TempMachine {
  public:
    TempMachine();
    ~TempMachine();
    TempMachine(const TempMachine&) = delete;
    TempMachine& operator=(const TempMachine&) = delete;

    const std::filesystem::path& dir() const { return dir_; }
    // The native path of a Windows path such as "C:\Windows\SysWOW64\x.dll" on this machine;
    // parent folders are created.
    std::filesystem::path Native(const std::string& windowsPath) const;

  private:
    std::filesystem::path dir_;
    std::string previous_;
    bool hadPrevious_ = false;
};
