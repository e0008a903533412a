// Threads with a cooperative stop. (Pauses are the platform's: pause_posix.cpp, pause_win32.cpp.)
//
// A thread is never cancelled from outside: that could leave a lock held. threadKill sets the
// thread's stop token instead; the thread checks threadStopRequested() before every side effect
// and returns. A thread that is still running (for example stuck in a kernel call) is detached
// and forgotten, so the caller never waits for it.
#include "toolkit/core_internal.h"
#include "toolkit/toolkit.h"

#include <atomic>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

namespace veltrace::toolkit {

namespace {

// Shared by the thread itself and its record, which may be forgotten before the thread ends.
struct ThreadShared {
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finished{false};
};

struct ThreadRecord {
    int number = 0;
    std::thread thread;
    std::shared_ptr<ThreadShared> shared;
};

struct ThreadList {
    std::mutex mutex;
    std::list<ThreadRecord> records;
    int lastNumber = 0;
};

ThreadList& threadList() {
    static ThreadList instance;
    return instance;
}

thread_local std::shared_ptr<ThreadShared> currentThread;

// Joins and drops the records of threads that have returned. Caller holds the list's mutex.
void forgetEndedThreads(ThreadList& list) {
    for (auto it = list.records.begin(); it != list.records.end();) {
        if (it->shared->finished) {
            it->thread.join();
            it = list.records.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

namespace detail {

void threadsForgetAll() {
    ThreadList& list = threadList();
    std::lock_guard lock(list.mutex);
    for (ThreadRecord& record : list.records) {
        record.thread.detach();
    }
    list.records.clear();
    list.lastNumber = 0;
}

} // namespace detail

int threadStart(ThreadProc procedure, void* argument) {
    if (procedure == nullptr) {
        return 0;
    }
    ThreadList& list = threadList();
    std::lock_guard lock(list.mutex);
    forgetEndedThreads(list);
    auto shared = std::make_shared<ThreadShared>();
    ThreadRecord record;
    record.number = list.lastNumber + 1;
    record.shared = shared;
    try {
        // std::thread uses the platform's default stack size.
        record.thread = std::thread([procedure, argument, shared] {
            currentThread = shared;
            procedure(argument);
            shared->finished = true;
        });
    } catch (const std::system_error&) {
        return 0;
    }
    list.lastNumber = record.number;
    list.records.push_back(std::move(record));
    return list.lastNumber;
}

void threadKill(int number) {
    ThreadList& list = threadList();
    std::lock_guard lock(list.mutex);
    for (auto it = list.records.begin(); it != list.records.end(); ++it) {
        if (it->number != number) {
            continue;
        }
        it->shared->stopRequested = true;
        if (it->shared->finished) {
            it->thread.join(); // it has returned: the join only collects it
        } else {
            it->thread.detach();
        }
        list.records.erase(it);
        return;
    }
}

bool threadStopRequested() {
    return currentThread && currentThread->stopRequested;
}

int threadRunning(int number) {
    ThreadList& list = threadList();
    std::lock_guard lock(list.mutex);
    for (const ThreadRecord& record : list.records) {
        if (record.number == number) {
            return record.shared->finished ? 0 : 1;
        }
    }
    return 0;
}

} // namespace veltrace::toolkit
