// Where the machine folder is, and how Windows paths land in it.
#include "temp_machine.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

// Sets or clears an environment variable for the lifetime of the object.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(MachineDir, EnvironmentDecidesOnEveryCall) {
    ScopedEnv home("HOME", "/home/bidder");
    {
        ScopedEnv machine("QUELDA_MACHINE", nullptr);
        ScopedEnv xdg("XDG_DATA_HOME", nullptr);
        EXPECT_EQ(winshim::MachineDir(), "/home/bidder/.local/share/quelda/machine");
    }
    {
        ScopedEnv machine("QUELDA_MACHINE", "");
        ScopedEnv xdg("XDG_DATA_HOME", "/data");
        EXPECT_EQ(winshim::MachineDir(), "/data/quelda/machine");
    }
    ScopedEnv xdg("XDG_DATA_HOME", "/data");
    ScopedEnv machine("QUELDA_MACHINE", "/m1");
    EXPECT_EQ(winshim::MachineDir(), "/m1");
    setenv("QUELDA_MACHINE", "/m2", 1);
    EXPECT_EQ(winshim::MachineDir(), "/m2");
}

TEST(MapWindowsPath, DrivesMapIntoTheMachineFolder) {
    ScopedEnv machine("QUELDA_MACHINE", "/m/");
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"C:\\Windows\\SysWOW64\\x.dll", "/m/drive_c/Windows/SysWOW64/x.dll"},
        {"c:/Program Files/alert/openIE.bat", "/m/drive_c/Program Files/alert/openIE.bat"},
        {"D:\\a\\b", "/m/drive_d/a/b"},
        {"z:\\", "/m/drive_z/"},
        {"C:", "/m/drive_c"},
        {"C:a\\b", "/m/drive_c/a/b"},
        {"C:\\dir\\\\file", "/m/drive_c/dir//file"},
        {"C:\\dir//file", "/m/drive_c/dir//file"},
        {"C:\\dir\\", "/m/drive_c/dir/"},
        {"C:\\证书\\驱动.dll", "/m/drive_c/证书/驱动.dll"},
        {"/usr/lib/x.so", "/usr/lib/x.so"},
        {"relative\\path", "relative/path"},
        {"1:\\x", "1:/x"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(winshim::MapWindowsPath(c.in), c.out) << c.in;
}

TEST(MapWindowsPath, EveryComponentIsFoundWhateverItsCase) {
    TempMachine machine;
    namespace fs = std::filesystem;
    const fs::path ca = machine.dir() / "drive_c" / "Program Files" / "Q" / "CA";
    fs::create_directories(ca);
    for (const char* name : {"A.dll", "dup.txt", "DUP.txt", "Dup.TXT"})
        std::ofstream(ca / name) << "x";
    const std::string c = (machine.dir() / "drive_c").string();
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"C:\\program files\\q\\ca\\a.DLL", c + "/Program Files/Q/CA/A.dll"},
        {"C:\\PROGRAM FILES\\Q\\ca\\", c + "/Program Files/Q/CA/"},
        // The exact name first; among other spellings the first in byte order.
        {"C:\\Program Files\\Q\\CA\\Dup.TXT", c + "/Program Files/Q/CA/Dup.TXT"},
        {"C:\\Program Files\\Q\\CA\\dUP.txt", c + "/Program Files/Q/CA/DUP.txt"},
        // What does not exist keeps its spelling from the first missing component on.
        {"C:\\program files\\Q\\New\\Sub", c + "/Program Files/Q/New/Sub"},
        // A path already in the machine folder, joined with a name (the probes do that).
        {c + "/program files/q/ca//A.DLL", c + "/Program Files/Q/CA//A.dll"},
    };
    for (const auto& t : cases)
        EXPECT_EQ(winshim::MapWindowsPath(t.in), t.out) << t.in;
}
