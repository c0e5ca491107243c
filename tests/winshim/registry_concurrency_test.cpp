// Writers in several threads and several processes at once lose no value.
#include "registry_test_util.h"
#include "temp_machine.h"

#include "reg_parse.h"
#include "reg_store.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Adds count values "<prefix><i>" = i under HKCU\Software\Race; false at the first failure.
bool AddValues(const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return false;
        DWORD v = static_cast<DWORD>(i);
        std::string name = prefix + std::to_string(i);
        LONG rc =
            RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            return false;
    }
    return true;
}

void ExpectAllValues(const std::filesystem::path& machine, const std::vector<std::string>& prefixes,
                     int count) {
    winshim::reg::RegModel model;
    winshim::reg::ParseError error;
    ASSERT_TRUE(winshim::reg::LoadRegText(ReadBytes(RegistryFile(machine)), &model, &error))
        << error.line << ": " << error.message;
    const winshim::reg::RegKey* key = model.Find("HKEY_CURRENT_USER\\Software\\Race");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->values.size(), prefixes.size() * count);
    for (const std::string& prefix : prefixes)
        for (int i = 0; i < count; ++i) {
            const winshim::reg::RegValue* v = key->FindValue(prefix + std::to_string(i));
            ASSERT_NE(v, nullptr) << prefix << i;
            EXPECT_EQ(v->data[0], static_cast<uint8_t>(i));
        }
    // No temporary file is left behind.
    for (const auto& entry : std::filesystem::directory_iterator(machine))
        EXPECT_TRUE(entry.path().filename() == "registry.reg" ||
                    entry.path().filename() == "registry.reg.lock")
            << entry.path();
}

} // namespace

TEST(RegistryConcurrency, ThreadsAddingAtOnceLoseNothing) {
    TempMachine machine;
    const int count = 60;
    std::vector<std::string> prefixes = {"a", "b", "c", "d"};
    std::vector<std::thread> threads;
    std::vector<char> ok(prefixes.size(), 0);
    for (size_t t = 0; t < prefixes.size(); ++t)
        threads.emplace_back([&, t] { ok[t] = AddValues(prefixes[t], count); });
    for (std::thread& t : threads)
        t.join();
    for (char o : ok)
        EXPECT_TRUE(o);
    ExpectAllValues(machine.dir(), prefixes, count);
}

TEST(RegistryConcurrency, ProcessesAddingAtOnceLoseNothing) {
    TempMachine machine;
    const int count = 200;
    std::vector<std::string> prefixes = {"first", "second"};
    std::vector<pid_t> children;
    for (const std::string& prefix : prefixes) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            _exit(AddValues(prefix, count) ? 0 : 1);
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ExpectAllValues(machine.dir(), prefixes, count);
}

TEST(RegistryConcurrency, LockHeldElsewhereFailsTheCallAfterTheWait) {
    TempMachine machine;
    ASSERT_TRUE(AddValues("before", 1));
    // Another process's lock: flock conflicts between open file descriptions, even here.
    const std::string lockFile = (machine.dir() / "registry.reg.lock").string();
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    winshim::reg::SetLockWait(std::chrono::milliseconds(300));

    const auto start = std::chrono::steady_clock::now();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, KEY_READ, &key),
              ERROR_LOCK_VIOLATION);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_LOCK_VIOLATION);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(600));
    EXPECT_LT(elapsed, std::chrono::seconds(5));

    ::close(fd); // released: the calls work again
    EXPECT_TRUE(AddValues("after", 1));
    winshim::reg::SetLockWait(std::chrono::seconds(10));
}
