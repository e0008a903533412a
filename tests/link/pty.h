// A pseudo-terminal for the device tests: the test writes into the master side, the code under
// test opens the slave as its serial port.
#pragma once

#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltrace::testing_support {

struct Pty {
    int master = -1;
    std::string slavePath;

    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) {
            slavePath = ptsname(master);
        }
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void closeMaster() {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }
    void send(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(master, bytes.data() + done, bytes.size() - done);
            ASSERT_GT(n, 0);
            done += static_cast<std::size_t>(n);
        }
    }
};

// Polls until the condition holds; the bound only keeps a broken build from hanging.
inline bool waitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 5000; ++i) {
        if (condition()) {
            return true;
        }
        toolkit::pause(2);
    }
    return condition();
}

} // namespace veltrace::testing_support
