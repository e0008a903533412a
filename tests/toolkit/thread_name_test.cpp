// Thread names as Linux shows them: the measuring scripts find the acquisition thread by its
// name in /proc, so the name must land on the calling thread and only there.
#include "toolkit/toolkit.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using namespace veltrace::toolkit;

namespace {

std::string ownTaskName() {
    std::ifstream comm("/proc/thread-self/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

TEST(ThreadName, NamesTheCallingThreadOnlyAndKeepsFifteenCharacters) {
    const std::string before = ownTaskName();
    ASSERT_FALSE(before.empty());
    std::string seen;
    std::string long_seen;
    std::thread worker([&] {
        threadSetName("acquisition");
        seen = ownTaskName();
        // The kernel keeps 15 characters; a longer name is cut, not refused.
        threadSetName("a-name-of-twenty-chars");
        long_seen = ownTaskName();
    });
    worker.join();
    EXPECT_EQ(seen, "acquisition");
    EXPECT_EQ(long_seen, "a-name-of-twent");
    EXPECT_EQ(ownTaskName(), before); // the thread that started it keeps its own
}

} // namespace
