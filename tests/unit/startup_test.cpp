#include <gtest/gtest.h>

#include "fake.h"
#include "common/exit_codes.h"
#include "common/report_texts.h"

extern "C" void WINAPI installer_entry();

namespace {

// Drives the licence page with script and a selection page, should one open,
// by cancelling it.
std::optional<UINT> start(std::function<void(HWND)> script) {
    fake::set_licence("Terms.\r\n");
    fake::user.scripts.push_back(std::move(script));
    fake::user.scripts.push_back([](HWND page) { fake::click(page, IDCANCEL); });
    return fake::run_process([] { installer_entry(); });
}

}  // namespace

TEST(StartUp, MakesItsCallsInOrderBeforeThePageAndEndsOnCancel) {
    EXPECT_EQ(start([](HWND page) { fake::click(page, IDCANCEL); }), EXIT_DONE);
    std::vector<std::string> expected = {
        "GetModuleHandleW kernel32.dll",  // already loaded: the lookup loads nothing
        "GetProcAddress SetDefaultDllDirectories",
        "SetDefaultDllDirectories 2048",  // before anything can load a library
        "GetProcAddress SetProcessMitigationPolicy",
        "GetProcAddress GetProcessMitigationPolicy",
        "GetProcAddress DeviceIoControl",  // what a junction the system vouches for is followed with
        "GetProcAddress GetFinalPathNameByHandleW",
        "GetProcAddress CompareStringOrdinal",
        "GetModuleHandleW ntdll.dll",
        "GetProcAddress wine_get_version",  // only Wine opens a link's target when asked for the link
        "SetProcessMitigationPolicy 16 1",  // links no administrator made are not followed
        "InitCommonControlsEx 8 255",
        "GetModuleHandleW user32.dll",
        "GetProcAddress SetProcessDpiAwarenessContext",
        "SetProcessDpiAwarenessContext -4",
        "GetProcessHeap",
        "HeapAlloc",
        "DialogBoxIndirectParamW",
        "PostMessageW 0 177 0",  // the licence text box: nothing selected,
        "PostMessageW 0 183 0",  // scrolled to the beginning
        "GetWindowRect",
        "MonitorFromWindow 1",
        "GetMonitorInfoW",
        "SetWindowPos 689 352",  // 541 x 336 pixels in a 1920 x 1040 work area
        "GetDlgItem 2",
        "GetWindowLongPtrW -16",  // Cancel is enabled
        "EndDialog 0",
        "ExitProcess 0",
    };
    EXPECT_EQ(fake::calls, expected);
}

TEST(StartUp, OlderSystemsGoWithoutTheCallsTheyLackAndStillShowThePage) {
    for (bool dpi : {false, true}) {
        fake::reset();
        fake::user.has_dpi_function = dpi;
        fake::user.has_dll_directories_function = !dpi;
        EXPECT_EQ(start([](HWND page) { fake::click(page, IDCANCEL); }), EXIT_DONE);
        EXPECT_EQ(fake::calls_named("SetProcessDpiAwarenessContext").size(), dpi ? 1u : 0u);
        EXPECT_EQ(fake::calls_named("SetDefaultDllDirectories").size(), dpi ? 0u : 1u);
        EXPECT_EQ(fake::user.dialogs.size(), 1u);
    }
}

TEST(StartUp, EveryWayOffTheLicencePageEndsTheProcessWithZero) {
    struct Case {
        const char *name;
        std::function<void(HWND)> script;
        INT_PTR page_result;
        size_t pages;
    } cases[] = {
        {"Cancel", [](HWND page) { fake::click(page, IDCANCEL); }, 0, 1},
        {"Escape or close box", [](HWND page) { fake::press_escape(page); }, 0, 1},
        {"Agree", [](HWND page) { fake::click(page, IDOK); }, 1, 2},
        {"Enter", [](HWND page) { fake::press_enter(page); }, 1, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fake::reset();
        EXPECT_EQ(start(c.script), EXIT_DONE);
        EXPECT_EQ(fake::user.dialogs.size(), c.pages);  // only Agree leads on
        EXPECT_EQ(fake::user.dialogs[0].result, c.page_result);
        EXPECT_EQ(fake::calls.back(), "ExitProcess 0");
        EXPECT_TRUE(fake::message_boxes.empty());
    }
}

TEST(StartUp, APageThatCannotBeCreatedIsNeverAgreement) {
    fake::user.fail_dialog = 1;
    EXPECT_EQ(start([](HWND) { FAIL() << "no page to drive"; }), EXIT_LICENCE_PAGE_FAILED);
    size_t n = fake::calls.size();
    ASSERT_GE(n, 2u);
    EXPECT_EQ(fake::calls[n - 2], "DialogBoxIndirectParamW");
    EXPECT_EQ(fake::calls[n - 1], "ExitProcess 2");
    EXPECT_TRUE(fake::message_boxes.empty());
}

TEST(StartUp, NoMemoryForTheLicenceTextIsReportedAndEndsTheProcess) {
    fake::heap.fail_allocation = 1;
    EXPECT_EQ(start([](HWND) { FAIL() << "no page expected"; }), EXIT_LICENCE_TEXT_NO_MEMORY);
    ASSERT_EQ(fake::message_boxes.size(), 1u);
    const fake::MessageBoxRecord &report = fake::message_boxes[0];
    EXPECT_EQ(report.owner, nullptr);
    EXPECT_EQ(report.text, fake::u16(TEXT_NO_MEMORY));
    EXPECT_EQ(report.caption, std::nullopt);
    EXPECT_EQ(report.type, UINT(MB_OK));
    EXPECT_TRUE(fake::calls_named("DialogBoxIndirectParamW").empty());
}

TEST(StartUp, TheLicenceTextBlockIsTheOnlyOneAndIsNeverFreed) {
    EXPECT_EQ(start([](HWND page) { fake::click(page, IDOK); }), EXIT_DONE);
    ASSERT_EQ(fake::heap.live_blocks(), 1u);
    EXPECT_EQ(fake::heap.live.begin()->second, 2u * 8 + 2);
    EXPECT_TRUE(fake::calls_named("HeapFree").empty());
}
