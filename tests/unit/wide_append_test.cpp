#include <gtest/gtest.h>

#include "fake.h"
#include "common/wide_string.h"

TEST(WideAppend, AppendsAtTheTerminatorAndTerminates) {
    WCHAR buffer[16];
    for (WCHAR &unit : buffer) unit = L'#';
    buffer[0] = L'a';
    buffer[1] = 0;
    wide_append(buffer, L"bc");
    wide_append(buffer, L"");
    wide_append(buffer, L"\\d");
    EXPECT_EQ(fake::u16(buffer), u"abc\\d");
    EXPECT_EQ(buffer[6], L'#');  // nothing written past the terminator
}
