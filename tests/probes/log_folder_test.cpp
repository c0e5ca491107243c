// Where the diagnostic log goes: the working folder's logs, or the shared folder under
// C:\ProgramData when the working folder is the package's install folder or cannot be written.
#include "probes/log_folder.h"
#include "probes/native_path.h"
#include "temp_machine.h"
#include "windows_test_env.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

const char kInstallFolder[] = "C:\\Program Files (x86)\\Quelda\\";

// Whether this process can make a file in `dir`.
bool CanWriteIn(const fs::path& dir) {
    const fs::path probe = dir / "probe.txt";
    bool made = false;
    {
        std::ofstream out(probe);
        made = out.is_open();
    }
    std::error_code ec;
    fs::remove(probe, ec);
    return made;
}

#ifndef _WIN32
bool SetImmutable(const fs::path& dir, bool on) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (fd >= 0)
        ::close(fd);
    return done;
}
#endif

// A folder this process cannot write in while the object lives: read and execute only for
// everyone (on Windows its ACL; elsewhere its mode, and for root the immutable flag).
// writeProtected() is false where this system does not enforce that (Wine keeps no ACL).
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(fs::path dir) : dir_(std::move(dir)) {
#ifdef _WIN32
        SetDacl(dir_, L"D:P(A;OICI;GRGX;;;WD)");
#else
        ::chmod(dir_.c_str(), 0555);
        if (::geteuid() == 0)
            SetImmutable(dir_, true);
#endif
        protected_ = !CanWriteIn(dir_);
    }
    ~ReadOnlyFolder() {
#ifdef _WIN32
        SetDacl(dir_, L"D:P(A;OICI;FA;;;WD)");
#else
        if (::geteuid() == 0)
            SetImmutable(dir_, false);
        ::chmod(dir_.c_str(), 0755);
#endif
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool writeProtected() const {
        return protected_;
    }

  private:
    fs::path dir_;
    bool protected_ = false;
};

// As the package records its folder: in the 32-bit view, the package being a 32-bit one.
void RecordInstallFolder(const std::string& windowsFolder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kInstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE | KEY_WOW64_32KEY, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "InstallFolder", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(windowsFolder.c_str()),
                             static_cast<DWORD>(windowsFolder.size() + 1)),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

class LogFolder : public ::testing::Test {
  protected:
    void TearDown() override {
#ifdef _WIN32
        // Windows keeps one registry and one C:\ for every test.
        DeleteRegistryTree(HKEY_LOCAL_MACHINE, kInstallKey);
        std::error_code ec;
        fs::remove_all(fs::u8path(kInstallFolder), ec);
        fs::remove_all(Shared(), ec);
#endif
    }
    // A working folder of this test (on Windows under the test's scratch folder).
    fs::path Work(const std::string& name) {
        const fs::path dir = machine.dir() / name;
        fs::create_directories(dir);
        return dir;
    }
    fs::path Shared() const {
        return fs::u8path(ToNativePath(kSharedLogFolder));
    }

    TempMachine machine;
};

TEST_F(LogFolder, AWritableWorkingFolderKeepsItsLogs) {
    const fs::path work = Work("投标 工具");
    const LogFolderChoice choice = ChooseLogFolder(work.u8string());
    EXPECT_EQ(choice.reason, LogFolderReason::kWorkingFolder);
    EXPECT_TRUE(fs::equivalent(fs::u8path(choice.folder), work / "logs")) << choice.folder;
    EXPECT_TRUE(fs::is_empty(work / "logs")) << "the write test left a file";
}

TEST_F(LogFolder, LogsThatCannotBeAFolderGoToTheSharedFolder) {
    const fs::path work = Work("zip");
    std::ofstream(work / "logs") << "a file where the folder belongs";
    const LogFolderChoice choice = ChooseLogFolder(work.u8string());
    EXPECT_EQ(choice.reason, LogFolderReason::kNotWritable);
    EXPECT_EQ(choice.folder, ToNativePath(kSharedLogFolder));
    EXPECT_TRUE(fs::is_directory(Shared()));
    EXPECT_TRUE(CanWriteIn(Shared()));
}

TEST_F(LogFolder, AReadOnlyWorkingFolderLogsToTheSharedFolder) {
    const fs::path work = Work("read-only");
    const ReadOnlyFolder readOnly(work);
    if (!readOnly.writeProtected())
        GTEST_SKIP() << "this system lets the process write in a read-only folder (Wine keeps "
                        "no ACL; not root without the immutable flag)";
    const LogFolderChoice choice = ChooseLogFolder(work.u8string());
    EXPECT_EQ(choice.reason, LogFolderReason::kNotWritable);
    EXPECT_EQ(choice.folder, ToNativePath(kSharedLogFolder));
    EXPECT_TRUE(CanWriteIn(Shared()));
}

// The folder the package recorded logs to the shared folder even though it can be written
// (an elevated program can write in Program Files); any other folder keeps its logs.
TEST_F(LogFolder, ThePackagesInstallFolderLogsToTheSharedFolder) {
    UseA64BitWindows(); // the record then lives in the 32-bit view only
    const fs::path installed = machine.Native(std::string(kInstallFolder) + "x").parent_path();
    fs::create_directories(installed);
    const fs::path elsewhere = Work("zip");
    struct Case {
        const char* recorded; // the package's record, or nullptr for none
        fs::path startedIn;
        LogFolderReason want;
    };
    const std::vector<Case> cases = {
        {nullptr, installed, LogFolderReason::kWorkingFolder},
        {kInstallFolder, installed, LogFolderReason::kInstallFolder},
        {"c:\\program files (x86)\\quelda", installed, LogFolderReason::kInstallFolder},
        {kInstallFolder, elsewhere, LogFolderReason::kWorkingFolder},
        {"C:\\Program Files (x86)\\Removed\\", installed, LogFolderReason::kWorkingFolder},
    };
    for (const auto& c : cases) {
        const std::string name = c.recorded ? c.recorded : "(no record)";
        if (c.recorded)
            RecordInstallFolder(c.recorded);
        std::error_code ec;
        fs::remove_all(installed / "logs", ec);
        const LogFolderChoice choice = ChooseLogFolder(c.startedIn.u8string());
        EXPECT_EQ(choice.reason, c.want) << name << " started in " << c.startedIn;
        if (c.want == LogFolderReason::kInstallFolder) {
            EXPECT_EQ(choice.folder, ToNativePath(kSharedLogFolder)) << name;
            EXPECT_FALSE(fs::exists(installed / "logs")) << name << ": the package's folder";
        } else {
            EXPECT_TRUE(fs::equivalent(fs::u8path(choice.folder), c.startedIn / "logs")) << name;
        }
    }
}

#ifndef _WIN32
// Anyone may create folders under C:\ProgramData: a link in the shared folder's place is
// removed, and the log never lands where it pointed.
TEST_F(LogFolder, ALinkInTheSharedFoldersPlaceIsReplaced) {
    const fs::path work = Work("zip");
    std::ofstream(work / "logs") << "a file where the folder belongs";
    const fs::path elsewhere = Work("elsewhere");
    fs::create_directories(Shared().parent_path());
    fs::create_directory_symlink(elsewhere, Shared());
    const LogFolderChoice choice = ChooseLogFolder(work.u8string());
    EXPECT_EQ(choice.folder, ToNativePath(kSharedLogFolder));
    EXPECT_FALSE(fs::is_symlink(Shared()));
    EXPECT_TRUE(fs::is_directory(Shared()));
}
#endif

} // namespace
