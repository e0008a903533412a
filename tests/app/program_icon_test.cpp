// The program icon: the window's 16 x 16 picture is pinned pixel for pixel.
#include "app/program_icon.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using namespace veltrace;

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

TEST(ProgramIcon, WindowIconIsUnchanged) {
    const auto icon = app::drawProgramIcon(16);
    ASSERT_TRUE(icon);
    ASSERT_EQ(icon->width, 16);
    ASSERT_EQ(icon->height, 16);
    EXPECT_EQ(fnv1a(icon->rgb), 0xa56ef2ad1b4aa41cull) << std::hex << fnv1a(icon->rgb);
}

} // namespace
