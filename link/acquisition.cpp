// The acquisition thread.
//
// Locks: the scope lock guards the channel data the decoder writes and is held for each decoded
// batch, the frame callbacks included. The byte source has its own lock, so the main thread may
// close it while this thread reads. The main thread may give up waiting and stop the thread by
// force (threadKill). That only sets the thread's stop token, so the thread checks it before
// every side effect and returns at once: a forced stop can never leave a lock held, and a thread
// that was given up on never touches the scope state or the stop flag again, which by then may
// belong to a new thread.
#include "link/acquisition.h"

#include "link/idle_wait.h"

#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <atomic>
#include <chrono>
#include <mutex>

namespace veltrace::link {

namespace {

using ScopeGuard = std::lock_guard<std::recursive_mutex>;

std::atomic<std::uint64_t> cycleCount{0};
std::atomic<std::uint64_t> decodedCount{0};
std::atomic<std::uint64_t> droppedCount{0};
std::atomic<std::uint64_t> drawnCount{0};

bool forcedToStop() {
    return toolkit::threadStopRequested();
}

thread_local std::chrono::steady_clock::time_point batchReadTime;
// The decoder of the frame being handed over, while its frameComplete runs.
thread_local const FrameDecoder* completingDecoder = nullptr;

} // namespace

AcquisitionCycle::AcquisitionCycle(AcquisitionJob job) : job_(std::move(job)) {}

bool AcquisitionCycle::run() {
    if (forcedToStop()) {
        return false;
    }
    if (!job_.source) {
        return true;
    }
    job_.source->clearErrors();
    const ReadResult got = job_.source->readAvailable(buffer_);
    batchReadTime = std::chrono::steady_clock::now();
    lastReadCount_ = got.count;
    if (!decode(got.count)) {
        return false;
    }
    if (got.deviceLost) {
        // What a lost device sends once it is back (opened again) starts anywhere in a frame:
        // the decoder waits for a sync byte rather than finish the broken frame with it.
        decoder_.framePosition = WaitForSync;
    }
    return true;
}

std::size_t AcquisitionCycle::bytesToFrameEnd() const {
    const int position = decoder_.framePosition;
    // Past the frame's end the decoder waits for a sync byte; at the soonest that is the next
    // byte, and a whole frame follows from it.
    return position < FrameLength ? static_cast<std::size_t>(FrameLength - position)
                                  : static_cast<std::size_t>(FrameLength);
}

bool AcquisitionCycle::decode(std::size_t count) {
    if (count == 0) {
        return true;
    }
    if (state::scope.holdDisplay != 0) {
        // Dropped undecoded; the next read overwrites them.
        droppedCount += count;
        return true;
    }
    if (forcedToStop()) {
        return false;
    }
    ScopeGuard guard(state::scopeLock());
    for (std::size_t i = 0; i < count; ++i) {
        if (forcedToStop()) {
            return false;
        }
        ++decodedCount;
        // Read afresh at every byte: the user may switch channels in the middle of a frame, and
        // the rest of that frame then goes to the newly selected slot.
        const int c = state::scope.currentChannel.load() & 3;
        if (decodeFrameByte(decoder_, buffer_[i], state::scope.channel[c]) == 1) {
            if (forcedToStop()) {
                return false;
            }
            if (job_.frameComplete) {
                completingDecoder = &decoder_;
                job_.frameComplete();
                completingDecoder = nullptr;
            }
            ++drawnCount;
        }
    }
    return true;
}

int startAcquisition(AcquisitionJob job) {
    auto owned = std::make_unique<AcquisitionJob>(std::move(job));
    const int thread = toolkit::threadStart(acquisitionThreadMain, owned.get());
    if (thread != 0) {
        owned.release(); // the thread owns it now
    }
    return thread;
}

int acquisitionThreadMain(void* argument) {
    const std::unique_ptr<AcquisitionJob> job(static_cast<AcquisitionJob*>(argument));
    // So that tools outside (ps, /proc, the measuring scripts) can tell this thread apart.
    toolkit::threadSetName("acquisition");
    AcquisitionCycle cycle(*job);
    for (;;) {
        if (!cycle.run()) {
            return 0;
        }
        // Wait in the system for what completes the frame in progress: the next read then
        // brings its last byte, and the frame is handed over as soon as that byte is in. A
        // stop request, a HOLD switched, a port closed or changed wake the wait. Sources that
        // cannot wait (a replay keeps its own pace, a port whose device is away retries its
        // open) keep the plain cycle.
        bool waited = false;
        if (job->source && state::scope.workerStopRequest == 0) {
            // While HOLD is set every byte is read as it comes and dropped, as it always was:
            // what arrives while HOLD is set never waits in the driver for its release.
            const std::size_t wanted = state::scope.holdDisplay != 0 ? 1 : cycle.bytesToFrameEnd();
            waited = job->source->waitForBytes(wanted, IdleWaitLimitMs);
        }
        if (!waited) {
            toolkit::pause(PlainCycleMs);
        }
        ++cycleCount;
        if (forcedToStop()) {
            return 0;
        }
        if (state::scope.workerStopRequest == 1) {
            if (job->source) {
                job->source->close();
            }
            if (forcedToStop()) {
                return 0;
            }
            state::scope.workerStopRequest = 0;
            return 0;
        }
    }
}

void stopAcquisition(int thread) {
    state::scope.workerStopRequest = 1;
    wakeIdleWaits();
    int pauses = 0;
    do {
        toolkit::pause(20);
        ++pauses;
        if (pauses == 50) {
            toolkit::threadKill(thread);
            state::scope.workerStopRequest = 0;
        }
    } while (state::scope.workerStopRequest != 0);
}

void stopAcquisitionShort(int thread, int limitMs) {
    state::scope.workerStopRequest = 1;
    wakeIdleWaits();
    // A fixed pause was too short on a loaded machine: the process then ended while the worker
    // was still inside a batch (holding the scope lock, in a redraw or a read of the port).
    for (int waited = 0; waited < limitMs && toolkit::threadRunning(thread) == 1; waited += 5) {
        toolkit::pause(5);
    }
    // Collects a thread that has returned; sets the stop token of one that has not.
    toolkit::threadKill(thread);
}

std::chrono::steady_clock::time_point frameReadTime() {
    return batchReadTime;
}

const FrameDecoder* frameDecoder() {
    return completingDecoder;
}

AcquisitionStats acquisitionStats() {
    AcquisitionStats stats;
    stats.cycles = cycleCount;
    stats.waitReturns = waitReturns();
    stats.bytesDecoded = decodedCount;
    stats.bytesDropped = droppedCount;
    stats.framesDrawn = drawnCount;
    return stats;
}

} // namespace veltrace::link
