// The acquisition thread: it drains a byte source every cycle, decodes the bytes into the channel
// that is selected at that moment, and hands each complete frame to the application through a
// callback, on its own thread. Plus the stop handshake with which the main thread ends it.
#pragma once

#include "link/byte_source.h"
#include "link/decoder.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace veltrace::link {

inline constexpr std::size_t ReceiveBufferSize = 1024;

// One acquisition thread's work.
struct AcquisitionJob {
    std::shared_ptr<ByteSource> source;
    // Called on the acquisition thread, with the scope lock held, right after the last byte of a
    // frame was stored and before the next byte is decoded: each frame is handed over exactly
    // once, and no byte of the following frame shows in it.
    std::function<void()> frameComplete;
};

// One cycle without its wait: clear line errors, take what the source holds (at most 1024
// bytes), and unless the display is held, decode every byte into the current channel. Held
// bytes are dropped. After a read that found the device gone the decoder waits for the next
// sync byte. The thread runs these; tests run them one by one.
class AcquisitionCycle {
  public:
    explicit AcquisitionCycle(AcquisitionJob job);
    // False when the thread was stopped by force (it must then end without touching anything).
    bool run();
    const FrameDecoder& decoder() const { return decoder_; }
    // The last run's read found nothing (the device is silent, or away).
    bool lastReadEmpty() const { return lastReadCount_ == 0; }
    // The fewest bytes that can complete a frame from where the decoder stands: what the
    // thread waits for before it reads again.
    std::size_t bytesToFrameEnd() const;
    const AcquisitionJob& job() const { return job_; }

  private:
    // Decodes the first `count` bytes of the buffer (or drops them while the display is held).
    bool decode(std::size_t count);

    AcquisitionJob job_;
    FrameDecoder decoder_; // fresh for every thread: its first byte stands in the sync position
    std::array<std::uint8_t, ReceiveBufferSize> buffer_{};
    std::size_t lastReadCount_ = 0;
};

// Longest wait of the thread on a source that brings nothing before it looks at everything
// again (a device that stopped in the middle of a frame costs a wake-up a second).
inline constexpr int IdleWaitLimitMs = 1000;
// The pace of a source that cannot be waited on (a replay, a port whose device is away).
inline constexpr int PlainCycleMs = 10;

// Starts a thread running acquisitionThreadMain on the job; its toolkit thread number, or 0.
int startAcquisition(AcquisitionJob job);
// Thread procedure; takes ownership of the AcquisitionJob it is given. Reads, then waits in the
// system until the source holds what completes the frame in progress (bytesToFrameEnd), at most
// IdleWaitLimitMs, and reads again, until scope.workerStopRequest is set; then it closes the
// source, clears the request and returns 0. A stop request, wakeIdleWaits() and a close of the
// source end the wait at once. Sources that cannot wait are read every PlainCycleMs instead.
int acquisitionThreadMain(void* job);

// Waiting form: request the stop (waking an idle wait), wait up to 50 x 20 ms for the thread to
// acknowledge it, then stop the thread by force.
void stopAcquisition(int thread);
// Short form (end of program): request the stop, wake an idle wait, and wait until the thread
// has returned (its source closed, no lock held, no batch half done) and collect it, so the
// process never ends under a worker in the middle of a cycle. A thread still running after
// limitMs (stuck in the system) is stopped by force, so it touches nothing more, and is left to
// the end of the process: quitting never hangs.
inline constexpr int ShortStopLimitMs = 2000;
void stopAcquisitionShort(int thread, int limitMs = ShortStopLimitMs);

// Inside frameComplete: when the read that brought the frame's last byte returned.
std::chrono::steady_clock::time_point frameReadTime();
// Inside frameComplete: the decoder that completed the frame, whose record still holds the
// frame's settings bytes and the device's reading; null on any other call.
const FrameDecoder* frameDecoder();

// Running totals of this process's acquisition threads, for the VELTRACE_STATS report and for
// tests that wait for a cycle boundary: cycles completed, bytes decoded, bytes dropped while the
// display was held, frames handed over, and returns from the system waits of the port's wait for
// bytes.
struct AcquisitionStats {
    std::uint64_t cycles = 0;
    std::uint64_t waitReturns = 0;
    std::uint64_t bytesDecoded = 0;
    std::uint64_t bytesDropped = 0;
    std::uint64_t framesDrawn = 0;
};
AcquisitionStats acquisitionStats();

} // namespace veltrace::link
