#include <gtest/gtest.h>

// Windows tests need no preparation: the Win32 backend runs on whatever display Wine (or
// Windows) has, the null driver included.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
