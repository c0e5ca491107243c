// Named mutexes (CreateMutexW, OpenMutexW, WaitForSingleObject, ReleaseMutex), as the
// program looks at Windows Installer's, and FormatMessageW for system messages.
#include "api_env.h"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>

using namespace apitest;

namespace {

using MutexApi = ApiTest;

std::wstring UniqueName() {
    std::random_device rd;
    return L"Global\\quelda-test-" + std::to_wstring(rd());
}

TEST_F(MutexApi, AMissingMutexCannotBeOpened) {
    SetLastError(0);
    EXPECT_EQ(OpenMutexW(SYNCHRONIZE, FALSE, UniqueName().c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// One thread owns it; another opens it, cannot take it while it is owned, then can.
TEST_F(MutexApi, AnOwnedMutexIsNotTakenUntilReleased) {
    const std::wstring name = UniqueName();
    HANDLE owner = CreateMutexW(nullptr, TRUE, name.c_str());
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    DWORD whileOwned = 0, afterRelease = 0, releasedByOther = FALSE, notOwned = TRUE;
    DWORD notOwnedError = 0;
    std::atomic<bool> released{false};
    std::thread other([&] {
        HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
        ASSERT_NE(h, nullptr);
        notOwned = ReleaseMutex(h);
        notOwnedError = GetLastError();
        whileOwned = WaitForSingleObject(h, 50);
        while (!released)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        afterRelease = WaitForSingleObject(h, 5000);
        releasedByOther = ReleaseMutex(h);
        CloseHandle(h);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_TRUE(ReleaseMutex(owner));
    released = true;
    other.join();
    EXPECT_FALSE(notOwned);
    EXPECT_EQ(notOwnedError, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_EQ(whileOwned, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(afterRelease, static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_TRUE(releasedByOther);
    // Created again while it exists: the same object, not owned by the new handle.
    HANDLE again = CreateMutexW(nullptr, FALSE, name.c_str());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(owner));
}

TEST(MessageApi, SystemMessagesEndInALineEnd) {
    WCHAR buffer[512];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    // Wine has no text for 3010; both have one for these.
    for (DWORD code : {1603u, 1618u, 5u}) {
        const DWORD n = FormatMessageW(flags, nullptr, code, 0, buffer, 512, nullptr);
        ASSERT_GT(n, 2u) << code;
        EXPECT_EQ(buffer[n], L'\0') << code;
        EXPECT_EQ(std::wstring(buffer + n - 2, 2), L"\r\n") << code;
    }
    EXPECT_EQ(FormatMessageW(flags, nullptr, 0x20001234, 0, buffer, 512, nullptr), 0u);
    EXPECT_EQ(FormatMessageW(flags, nullptr, 1603, 0, buffer, 2, nullptr), 0u); // too small
}

} // namespace
