#include "link/reconnecting_port.h"

#include <chrono>

namespace veltrace::link {

namespace {

std::int64_t steadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

ReconnectingPort::ReconnectingPort(std::shared_ptr<ByteSource> opened, Opener reopen)
    : ReconnectingPort(std::move(opened), std::move(reopen), steadyMilliseconds) {}

ReconnectingPort::ReconnectingPort(std::shared_ptr<ByteSource> opened, Opener reopen, Clock clock)
    : port_(std::move(opened)), reopen_(std::move(reopen)), clock_(std::move(clock)) {}

ReadResult ReconnectingPort::readAvailable(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(mutex_);
    ReadResult result;
    if (closed_) {
        return result;
    }
    if (port_) {
        result = port_->readAvailable(buffer);
        if (result.deviceLost) {
            port_->close();
            port_.reset();
            nextAttemptMs_ = clock_() + RetryIntervalMs;
        }
        return result;
    }
    result.deviceLost = true;
    const std::int64_t now = clock_();
    if (now < nextAttemptMs_ || !reopen_) {
        return result;
    }
    nextAttemptMs_ = now + RetryIntervalMs;
    ++attempts_;
    port_ = reopen_();
    if (port_) {
        ++reconnections_;
        result.deviceLost = false;
    }
    return result;
}

void ReconnectingPort::clearErrors() {
    std::lock_guard lock(mutex_);
    if (port_) {
        port_->clearErrors();
    }
}

void ReconnectingPort::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (port_) {
        port_->close();
    }
}

bool ReconnectingPort::waitForBytes(std::size_t wanted, int timeoutMs) {
    std::shared_ptr<ByteSource> port;
    {
        std::lock_guard lock(mutex_);
        if (closed_ || !port_) {
            return false;
        }
        port = port_;
    }
    // Not under the lock: a close must not wait for the wait.
    return port->waitForBytes(wanted, timeoutMs);
}

bool ReconnectingPort::connected() const {
    std::lock_guard lock(mutex_);
    return port_ != nullptr && !closed_;
}

std::uint64_t ReconnectingPort::reopenAttempts() const {
    std::lock_guard lock(mutex_);
    return attempts_;
}

std::uint64_t ReconnectingPort::reconnections() const {
    std::lock_guard lock(mutex_);
    return reconnections_;
}

} // namespace veltrace::link
