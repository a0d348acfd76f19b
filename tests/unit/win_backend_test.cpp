// Routines of the Windows view back end that work on plain system windows:
// the message flush, key translation, frame size and the window classes.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "runtime_fixture.h"
#include "view/windows/internal.h"

namespace {

using namespace mox::gui::win;

constexpr UINT MSG_COUNT = WM_USER + 10;  // counted
constexpr UINT MSG_NESTED = WM_USER + 11; // counted, then flushes again
constexpr UINT MSG_QUIT = WM_USER + 12;   // asks the waiting level to end, then flushes

struct Probe {
    int handled = 0;
    int handled_when_nested_returned = -1;
    bool flush_returned = false;
};
Probe probe;

LRESULT CALLBACK probe_proc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case MSG_COUNT:
        probe.handled++;
        return 0;
    case MSG_NESTED:
        probe.handled++;
        flush_events();
        probe.handled_when_nested_returned = probe.handled;
        return 0;
    case MSG_QUIT:
        PostQuitMessage(0);
        PostMessageW(hwnd, MSG_COUNT, 0, 0);
        flush_events();
        probe.flush_returned = true;
        return 0;
    default:
        return DefWindowProcW(hwnd, msg, wparam, lparam);
    }
}

HWND make_probe_window(DWORD style) {
    static bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &probe_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"MoxUnitProbe";
        return RegisterClassExW(&wc) != 0;
    }();
    EXPECT_TRUE(registered);
    return CreateWindowExW(0, L"MoxUnitProbe", L"probe", style, 10, 10, 300, 200, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

// The flush tests each take a fresh probe window, with the probe's counts
// cleared, which is destroyed after the test.
class WinBackend : public ::testing::Test {
  protected:
    HWND probe_window() {
        hwnd_ = make_probe_window(WS_OVERLAPPEDWINDOW);
        probe = Probe{};
        return hwnd_;
    }
    void TearDown() override {
        if (hwnd_) DestroyWindow(hwnd_);
    }

  private:
    HWND hwnd_ = nullptr;
};

bool queued_for(HWND hwnd) {
    MSG m;
    return PeekMessageW(&m, hwnd, 0, 0, PM_NOREMOVE) != 0;
}

TEST_F(WinBackend, FlushEventsHandlesEveryQueuedMessage) {
    HWND hwnd = probe_window();
    ASSERT_NE(hwnd, nullptr);
    for (int i = 0; i < 5; i++) PostMessageW(hwnd, MSG_COUNT, 0, 0);
    flush_events();
    EXPECT_EQ(probe.handled, 5);
    EXPECT_FALSE(queued_for(hwnd));
}

// A flush inside a handler of the flush leaves the messages behind it to
// the outer one, which still takes them all.
TEST_F(WinBackend, NestedFlushReturnsAtOnce) {
    HWND hwnd = probe_window();
    ASSERT_NE(hwnd, nullptr);
    PostMessageW(hwnd, MSG_NESTED, 0, 0);
    PostMessageW(hwnd, MSG_COUNT, 0, 0);
    PostMessageW(hwnd, MSG_COUNT, 0, 0);
    flush_events();
    EXPECT_EQ(probe.handled_when_nested_returned, 1);
    EXPECT_EQ(probe.handled, 3);
    EXPECT_FALSE(queued_for(hwnd));
}

// The quit a handler posts for the level waiting around it ends the flush
// (which would otherwise take it back forever) and then that level.
TEST_F(WinBackend, FlushStopsAtAQuitForAWaitingLevel) {
    HWND hwnd = probe_window();
    ASSERT_NE(hwnd, nullptr);
    PostMessageW(hwnd, MSG_QUIT, 0, 0);
    EXPECT_TRUE(do_events(false));
    EXPECT_TRUE(probe.flush_returned);
    EXPECT_EQ(probe.handled, 1);
    MSG m;
    EXPECT_FALSE(PeekMessageW(&m, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(WinBackend, VkeyToCharFollowsTheKeyboardState) {
    BYTE saved[256];
    ASSERT_TRUE(GetKeyboardState(saved));
    struct Case {
        UINT vkey;
        bool shift;
        int32_t expected;
    };
    const Case cases[] = {
        {'A', false, 'a'},  {'A', true, 'A'},      {VK_SPACE, false, ' '}, {'1', false, '1'},
        {VK_F1, false, -1}, {VK_SHIFT, false, -1}, {VK_LEFT, false, -1},
    };
    for (const Case& c : cases) {
        BYTE keys[256] = {};
        if (c.shift) keys[VK_SHIFT] = keys[VK_LSHIFT] = 0x80;
        ASSERT_TRUE(SetKeyboardState(keys));
        EXPECT_EQ(vkey_to_char(c.vkey), c.expected) << "vkey " << c.vkey << " shift " << c.shift;
    }
    SetKeyboardState(saved);
}

TEST_F(WinBackend, FrameSizeIsTheWindowBeyondItsClientArea) {
    const DWORD styles[] = {WS_OVERLAPPEDWINDOW, WS_POPUP | WS_BORDER, WS_POPUP};
    for (DWORD style : styles) {
        HWND hwnd = make_probe_window(style);
        ASSERT_NE(hwnd, nullptr);
        RECT w{}, c{};
        GetWindowRect(hwnd, &w);
        GetClientRect(hwnd, &c);
        POINT frame = get_frame_size(hwnd);
        EXPECT_EQ(frame.x, (w.right - w.left) - c.right) << std::hex << style;
        EXPECT_EQ(frame.y, (w.bottom - w.top) - c.bottom) << std::hex << style;
        if (style == WS_OVERLAPPEDWINDOW) {
            EXPECT_GT(frame.y, frame.x); // the caption
        } else if (style == WS_POPUP) {
            EXPECT_EQ(frame.x + frame.y, 0);
        }
        DestroyWindow(hwnd);
    }
}

bool class_registered(const wchar_t* name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExW(GetModuleHandleW(nullptr), name, &wc) != 0;
}

// Every class but the scroller's goes; one whose window is still open
// stays, and that window is still known as ours.
TEST_F(WinBackend, UnregisterClassesLeavesTheScrollerAndOpenClasses) {
    mox::test::boot();
    if (!g.instance) g.instance = GetModuleHandleW(nullptr);
    if (!class_registered(L"MoxWindow")) register_classes();
    const wchar_t* gone[] = {L"MoxWindow",   L"MoxBase",    L"MoxBaseInternal", L"MoxCamera",
                             L"MoxButton",   L"MoxField",   L"MoxCombo",        L"MoxListBox",
                             L"MoxProgress", L"MoxSlider",  L"MoxTabpanel",     L"MoxFace",
                             L"MoxArea",     L"MoxCalendar"};
    for (const wchar_t* name : gone) ASSERT_TRUE(class_registered(name));
    HWND panel = CreateWindowExW(0, L"MoxPanel", L"", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                 g.instance, nullptr);
    ASSERT_NE(panel, nullptr);
    ASSERT_NE(record_of(panel), nullptr);

    unregister_classes(g.instance);
    for (const wchar_t* name : gone) EXPECT_FALSE(class_registered(name)) << "still there";
    EXPECT_TRUE(class_registered(L"MoxScroller"));
    EXPECT_TRUE(class_registered(L"MoxPanel"));
    EXPECT_NE(record_of(panel), nullptr);

    DestroyWindow(panel);
    unregister_classes(g.instance);
    EXPECT_FALSE(class_registered(L"MoxPanel"));
    // Back as they were for anything after.
    UnregisterClassW(L"MoxScroller", g.instance);
    register_classes();
    EXPECT_TRUE(class_registered(L"MoxWindow"));
    EXPECT_TRUE(class_registered(L"MoxScroller"));
}

} // namespace
#endif
