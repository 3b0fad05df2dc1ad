#include "ui/win32/windowing_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kvt {
namespace {

constexpr UINT kTestMessage = WM_APP + 7;

std::vector<UINT> received;

LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTestMessage) {
        received.push_back(message);
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// Top-level windows of the test, shown; none when there is no display.
class WindowingWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        received.clear();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = recordingProcedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"KvtProvaFinestra";
        ::RegisterClassW(&windowClass);
    }
    void TearDown() override {
        for (HWND window : windows_) {
            ::DestroyWindow(window);
        }
    }

    HWND window() {
        HWND made =
            ::CreateWindowExW(0, L"KvtProvaFinestra", L"Vello KVT", WS_OVERLAPPEDWINDOW, 10, 10,
                              200, 100, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
        if (made) {
            ::ShowWindow(made, SW_SHOW);
            windows_.push_back(made);
        }
        return made;
    }

    static WindowHandle handle(HWND window) { return reinterpret_cast<WindowHandle>(window); }

    WindowingWin32 windowing;

  private:
    std::vector<HWND> windows_;
};

#define WINDOW_OR_SKIP(name)                                                         \
    const HWND name = window();                                                      \
    if (!name) {                                                                     \
        GTEST_SKIP() << "nessuna finestra senza display (xvfb-run non disponibile)"; \
    }

TEST_F(WindowingWin32Test, TheForegroundAndTranslucencyOfWindowsThatExistOnly) {
    WINDOW_OR_SKIP(first);
    WINDOW_OR_SKIP(second);
    for (HWND next : {first, second, first}) {
        windowing.setForegroundWindow(handle(next));
        EXPECT_EQ(windowing.foregroundWindow(), handle(next));
    }

    ASSERT_TRUE(setWindowOpacity(handle(second), 200));
    EXPECT_NE(::GetWindowLongPtrW(second, GWL_EXSTYLE) & WS_EX_LAYERED, 0);
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(::GetLayeredWindowAttributes(second, nullptr, &alpha, &flags));
    EXPECT_EQ(alpha, 200);
    EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));
    ASSERT_TRUE(setWindowOpacity(handle(second), 255));
    EXPECT_EQ(::GetWindowLongPtrW(second, GWL_EXSTYLE) & WS_EX_LAYERED, 0);

    // Nothing, or a window that is gone, leaves the foreground as it is.
    ::DestroyWindow(second);
    EXPECT_FALSE(setWindowOpacity(handle(second), 200));
    windowing.setForegroundWindow(handle(first));
    windowing.setForegroundWindow(handle(second));
    windowing.setForegroundWindow(0);
    EXPECT_EQ(windowing.foregroundWindow(), handle(first));
}

TEST_F(WindowingWin32Test, TheHourglassComesAndTheCursorBeforeComesBack) {
    const HCURSOR cross = ::LoadCursorW(nullptr, IDC_CROSS);
    const HCURSOR wait = ::LoadCursorW(nullptr, IDC_WAIT);
    ::SetCursor(cross);
    {
        WindowingWin32 own;
        own.setHourglass(true);
        EXPECT_TRUE(own.hourglass());
        EXPECT_EQ(::GetCursor(), wait);
        // Asked twice, it is still one hourglass: one "off" ends it.
        own.setHourglass(true);
        own.setHourglass(false);
        EXPECT_FALSE(own.hourglass());
        EXPECT_EQ(::GetCursor(), cross);

        own.setHourglass(true);
        EXPECT_EQ(::GetCursor(), wait);
    }
    // The windowing gone, so is its hourglass.
    EXPECT_EQ(::GetCursor(), cross);
}

TEST_F(WindowingWin32Test, WaitingMessagesAreDispatchedAndAQuitIsLeftForTheLoop) {
    WINDOW_OR_SKIP(main);
    ::PostMessageW(main, kTestMessage, 0, 0);
    ::PostMessageW(main, kTestMessage, 0, 0);
    ::PostQuitMessage(3);
    windowing.processMessages();
    EXPECT_EQ(received.size(), 2U);

    MSG message;
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 3U);
}

TEST_F(WindowingWin32Test, AWaitForAnotherThreadDispatchesMessagesAndKeepsAQuit) {
    WINDOW_OR_SKIP(main);
    ::PostQuitMessage(4);
    Attesa attesa;
    BOOL abilitata = TRUE;
    // The work ends only once the waiting thread has handled its message;
    // its window of its own keeps the thread's windows disabled meanwhile.
    std::thread lavoro([&] {
        ::SendMessageW(main, kTestMessage, 0, 0);
        abilitata = ::IsWindowEnabled(main);
        attesa.concludi();
    });
    windowing.waitFor(attesa, true);
    lavoro.join();
    EXPECT_EQ(received.size(), 1U);
    EXPECT_FALSE(abilitata);
    EXPECT_TRUE(::IsWindowEnabled(main));
    MSG message;
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 4U);
}

}  // namespace
}  // namespace kvt
