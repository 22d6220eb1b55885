// The standard-streams platform: what a message box and a console note leave
// on the two streams, the codes of refused and failed writes, and an error
// code that belongs to one thread.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace {

// Everything written to the descriptor fd while call runs.
template <typename Call>
std::string captured(int fd, Call call) {
    std::fflush(nullptr);
    FILE* capture = std::tmpfile();
    if (!capture) return "(no capture file)";
    const int saved = dup(fd);
    dup2(fileno(capture), fd);
    call();
    dup2(saved, fd);
    close(saved);
    std::string text(4096, '\0');
    const ssize_t n = pread(fileno(capture), text.data(), text.size(), 0);
    text.resize(static_cast<size_t>(std::max<ssize_t>(0, n)));
    std::fclose(capture);
    return text;
}

TEST(PlatformStdio, MessageBoxWritesCaptionAndTextToStandardErrorAndReturnsAtOnce) {
    int result = 0;
    std::string err;
    const std::string out = captured(STDOUT_FILENO, [&] {
        err = captured(STDERR_FILENO, [&] {
            result = MessageBoxA(0, "first line\nsecond line", "error", MB_OK | MB_ICONERROR);
        });
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(err, "error: first line\nsecond line\n");
    EXPECT_EQ(out, "");

    // Win32's default caption, an empty text, and an owner that is no window.
    err = captured(STDERR_FILENO, [&] { result = MessageBoxA(0, "no caption", nullptr, MB_OK); });
    EXPECT_EQ(err, "Error: no caption\n");
    err = captured(STDERR_FILENO, [&] { result = MessageBoxA(0x1234, nullptr, "empty", MB_OK); });
    EXPECT_EQ(err, "empty: \n");
    EXPECT_EQ(result, IDOK);
}

TEST(PlatformStdio, ConsoleNotesReachTheirStreamWholeAndRefusalsSayWhy) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    ASSERT_NE(out, 0u);
    ASSERT_NE(err, 0u);
    ASSERT_NE(out, err);
    const std::string note("a\0b note\n", 9);
    DWORD written = 0;
    BOOL ok = FALSE;
    EXPECT_EQ(captured(STDOUT_FILENO,
                       [&] { ok = WriteConsoleA(out, note.data(), 9, &written, nullptr); }),
              note);
    EXPECT_TRUE(ok);
    EXPECT_EQ(written, 9u);
    EXPECT_EQ(captured(STDERR_FILENO, [&] { WriteConsoleA(err, "to err", 6, nullptr, nullptr); }),
              "to err");

    EXPECT_EQ(GetStdHandle(static_cast<DWORD>(-10)), INVALID_HANDLE_VALUE);  // console input
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WriteConsoleA(INVALID_HANDLE_VALUE, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteConsoleA(out, nullptr, 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(WriteConsoleA(out, nullptr, 0, &written, nullptr));  // nothing to write
}

TEST(PlatformStdio, AFullOutputFailsTheWriteWithAWriteFault) {
    const int full = open("/dev/full", O_WRONLY);
    if (full < 0) GTEST_SKIP() << "no /dev/full here";
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(full, STDOUT_FILENO);
    close(full);
    DWORD written = 7;
    const BOOL ok = WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), "lost", 4, &written, nullptr);
    const DWORD error = GetLastError();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_FALSE(ok);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_WRITE_FAULT));
}

TEST(PlatformStdio, EachThreadKeepsItsOwnErrorCode) {
    SetLastError(ERROR_BROKEN_PIPE);
    DWORD other = 0;
    std::thread([&other] {
        other = GetLastError();  // a new thread starts clean
        SetLastError(ERROR_NOT_SUPPORTED);
    }).join();
    EXPECT_EQ(other, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
}

}  // namespace
