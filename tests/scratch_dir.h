// A fresh, empty directory of the test's own under the system's temporary directory, on every
// platform (mkdtemp is POSIX only).
#pragma once

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace veltrace::testing_support {

inline std::filesystem::path makeScratchDirectory(const std::string& prefix) {
    std::random_device entropy;
    std::mt19937_64 random(
        entropy() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = std::filesystem::temp_directory_path() /
                                                (prefix + std::to_string(random() % 1000000000));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            return candidate;
        }
    }
    return {};
}

} // namespace veltrace::testing_support
