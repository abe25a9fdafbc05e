#include <gtest/gtest.h>

#include "dialog/command_table.h"
#include "dialog/dialog_procedure.h"
#include "dialog/template_writer.h"
#include "fake.h"
#include "installer/page_header.h"

namespace {

std::vector<std::pair<char, HWND>> handled;
void on_first(HWND dialog) { handled.push_back({'A', dialog}); }
void on_second(HWND dialog) { handled.push_back({'B', dialog}); }

HWND const some_dialog = reinterpret_cast<HWND>(0x4242);

WPARAM command(WORD id, WORD code) { return WPARAM(id) | WPARAM(code) << 16; }

// A dialog of width x height pixels (one dialog unit per pixel), closed by Escape.
INT_PTR run_dialog(int width, int height) {
    fake::user.base_x = 4;
    fake::user.base_y = 8;
    command_count = 0;
    begin_template("T", width, height);
    register_command(IDCANCEL, on_cancel);
    fake::user.scripts.push_back([](HWND dialog) { fake::press_escape(dialog); });
    return DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(template_buffer), nullptr,
                                   shared_dialog_proc, 0);
}

}  // namespace

TEST(CommandTable, DispatchesOnlyClicksToTheFirstMatchingEntry) {
    struct Case {
        const char *name;
        std::vector<command_entry> entries;
        WPARAM wparam;
        INT_PTR result;
        const char *called;
    } cases[] = {
        {"click", {{2, on_second}, {1, on_first}}, command(1, BN_CLICKED), TRUE, "A"},
        {"other notification", {{1, on_first}}, command(1, 0x0300), FALSE, ""},
        {"edit box notification", {{0, on_first}}, command(0, 0x0100), FALSE, ""},
        {"unknown id", {{1, on_first}}, command(7, BN_CLICKED), FALSE, ""},
        {"empty table", {}, command(1, BN_CLICKED), FALSE, ""},
        {"first of two with one id", {{5, on_first}, {5, on_second}}, command(5, BN_CLICKED), TRUE, "A"},
        {"id above 16 bits", {{0x10001, on_first}, {1, on_second}}, command(1, BN_CLICKED), TRUE, "B"},
        {"id above 16 bits alone", {{0x10001, on_first}}, command(1, BN_CLICKED), FALSE, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        handled.clear();
        begin_page();
        for (const command_entry &entry : c.entries) register_command(entry.control_id, entry.handler);
        EXPECT_EQ(shared_dialog_proc(some_dialog, WM_COMMAND, c.wparam, 0), c.result);
        std::string called;
        for (auto &[which, dialog] : handled) {
            called += which;
            EXPECT_EQ(dialog, some_dialog);
        }
        EXPECT_EQ(called, c.called);
    }
}

TEST(CommandTable, EntriesOfAnEarlierPageAreGone) {
    begin_page();
    register_command(1, on_first);
    begin_page();
    register_command(2, on_second);
    handled.clear();
    EXPECT_EQ(shared_dialog_proc(some_dialog, WM_COMMAND, command(1, BN_CLICKED), 0), FALSE);
    EXPECT_TRUE(handled.empty());
}

TEST(CommandTable, CentresOnThePrimaryWorkArea) {
    struct Case {
        RECT work;
        bool info_fails;
        int width, height;
        int x, y;
    } cases[] = {
        {{0, 0, 1920, 1040}, false, 600, 400, 660, 320},
        {{0, 0, 1023, 768}, false, 1100, 101, -38, 333},  // toward zero, not -39
        {{100, 40, 1920, 1080}, false, 600, 400, 710, 360},
        {{0, 0, 1920, 1040}, true, 600, 400, -300, -200},  // no monitor information: a zero work area
    };
    for (const Case &c : cases) {
        fake::reset();
        fake::user.work_area = c.work;
        fake::user.monitor_info_fails = c.info_fails;
        EXPECT_EQ(run_dialog(c.width, c.height), 0);
        ASSERT_EQ(fake::user.placements.size(), 1u);
        const fake::WindowPlacement &moved = fake::user.placements[0];
        EXPECT_EQ(moved.window, fake::user.dialogs[0].window);
        EXPECT_EQ(moved.insert_after, nullptr);
        EXPECT_EQ(moved.x, c.x);
        EXPECT_EQ(moved.y, c.y);
        EXPECT_EQ(moved.flags, UINT(SWP_NOSIZE | SWP_NOZORDER));
        EXPECT_EQ(fake::calls_named("MonitorFromWindow"), std::vector<std::string>{"MonitorFromWindow 1"});
        EXPECT_EQ(fake::user.dialogs[0].init_result, TRUE);
    }
}

TEST(CommandTable, AgreeAndCancelEndTheDialogWithTheirResults) {
    struct Case {
        command_handler handler;
        INT_PTR result;
    } cases[] = {{on_agree, 1}, {on_cancel, 0}};
    for (const Case &c : cases) {
        fake::reset();
        begin_page();
        add_control(0, WS_CHILD | WS_TABSTOP, control_at(0, 0, 10, 10), 9, "BUTTON", "Go");
        register_command(9, c.handler);
        fake::user.scripts.push_back([](HWND dialog) { fake::click(dialog, 9); });
        EXPECT_EQ(DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATEW>(template_buffer), nullptr,
                                          shared_dialog_proc, 0),
                  c.result);
    }
}
