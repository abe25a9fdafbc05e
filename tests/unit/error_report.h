// The installer's error reports: one message box owned by the page, with the
// system's default caption and an OK button only.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake.h"

inline void expect_one_error_report(HWND owner, const std::u16string &text) {
    ASSERT_EQ(fake::message_boxes.size(), 1u);
    const fake::MessageBoxRecord &box = fake::message_boxes[0];
    EXPECT_EQ(box.owner, owner);
    EXPECT_EQ(box.text, text);
    EXPECT_FALSE(box.caption.has_value());
    EXPECT_EQ(box.type, UINT(MB_OK));
}
