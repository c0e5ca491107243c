// Writers in several threads and several processes at once lose no value.
#include "registry_test_util.h"
#include "temp_machine.h"

#include "reg_parse.h"
#include "reg_store.h"

#include <winshim/windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <memory>
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

// A child process that holds the registry's lock until the object goes.
class LockHolder {
  public:
    explicit LockHolder(const std::filesystem::path& machine) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            ::close(release[1]);
            const int fd =
                ::open((machine / "registry.reg.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            char byte = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            (void)!::write(ready[1], &byte, 1);
            (void)!::read(release[0], &byte, 1); // until the parent closes its end
            _exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char byte = 'n';
        locked_ = pid_ > 0 && ::read(ready[0], &byte, 1) == 1 && byte == 'y';
        ::close(ready[0]);
    }
    ~LockHolder() {
        ::close(release_);
        if (pid_ > 0)
            waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }

  private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool locked_ = false;
};

TEST(RegistryConcurrency, LockHeldByAnotherProcessCostsOneWaitUntilItIsSeenFree) {
    TempMachine machine;
    ASSERT_TRUE(AddValues("before", 1));
    const auto wait = std::chrono::milliseconds(500);
    winshim::reg::SetLockWait(wait);
    for (int round = 0; round < 2; ++round) {
        auto holder = std::make_unique<LockHolder>(machine.dir());
        ASSERT_TRUE(holder->locked());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 6; ++i) {
            HKEY key = nullptr;
            EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, KEY_READ, &key),
                      ERROR_LOCK_VIOLATION);
            EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, nullptr, 0,
                                      KEY_WRITE, nullptr, &key, nullptr),
                      ERROR_LOCK_VIOLATION);
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, wait) << round;     // the first call waited
        EXPECT_LT(elapsed, 3 * wait) << round; // the eleven others did not
        holder.reset(); // released: the calls work again, and the next lock is waited for
        EXPECT_TRUE(AddValues("after" + std::to_string(round), 1));
    }
    winshim::reg::SetLockWait(std::chrono::seconds(10));
}
