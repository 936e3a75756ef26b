#include <gtest/gtest.h>

#include "support/scoped_state.h"

TEST(Unbound, CreatesReturnZero) { EXPECT_EQ(quorin_incomingwebrequesttracer_create_p(0, 0, 0), 0u); }
