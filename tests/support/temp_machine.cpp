#include "temp_machine.h"

#include "probes/native_path.h"

#include <cstdlib>
#include <random>

namespace fs = std::filesystem;

namespace {
fs::path UniqueDir() {
    std::random_device rd;
    std::mt19937_64 gen(rd());
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("quelda-test-" + std::to_string(gen()));
        if (fs::create_directory(p))
            return p;
    }
}

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}
} // namespace

TempMachine::TempMachine() : dir_(UniqueDir()) {
    if (const char* old = std::getenv("QUELDA_MACHINE")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    SetEnv("QUELDA_MACHINE", dir_.string());
}

TempMachine::~TempMachine() {
    if (hadPrevious_)
        SetEnv("QUELDA_MACHINE", previous_);
    else
        UnsetEnv("QUELDA_MACHINE");
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

fs::path TempMachine::Native(const std::string& windowsPath) const {
    fs::path p = fs::u8path(ToNativePath(windowsPath));
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    return p;
}
