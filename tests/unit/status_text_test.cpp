#include <gtest/gtest.h>

#include "support/scoped_state.h"

TEST(StatusText, OwnCodesAreFixedEnglishTexts) {
    quorin_wchar_t buffer[128];
    EXPECT_EQ(to_u16(quorin_stub_xstrerror(0, buffer, 128)), u"The operation completed successfully.");
}
