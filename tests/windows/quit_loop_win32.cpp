// Starts veltrace.exe again and again and ends each run through File / Quit, the way the menu
// bar does it (WM_COMMAND with the Quit item posted to the main window), and reports for every
// run the exit status and how long the program took to open its window and to end after Quit.
// A companion of scripts/quit-loop-windows.sh; it runs under Wine beside the program.
//   veltrace-quit-loop.exe PROGRAM COUNT [MAX_SETTLE_MS]
// Each run waits a different time (0 .. MAX_SETTLE_MS, default 400) between the window and
// Quit, so Quit meets the acquisition thread at different points of its cycle. The last line
// sums up; the exit status is 0 when every run ended with status 0.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int MenuQuit = 7;           // the program's File / Quit item
constexpr DWORD WindowWaitMs = 60000; // a start under load with a fresh Wine server is slow
constexpr DWORD QuitWaitMs = 30000;   // longer counts as a hang
const wchar_t* const MainWindowTitle = L"Veltrace V1.11";

struct Search {
    DWORD processId = 0;
    HWND found = nullptr;
};

BOOL CALLBACK findMainWindow(HWND hwnd, LPARAM parameter) {
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner != search->processId || !IsWindowVisible(hwnd)) {
        return TRUE;
    }
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 63);
    if (std::wstring(title) == MainWindowTitle) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct Run {
    DWORD status = 0;
    bool windowSeen = false;
    bool hung = false;
    double windowMs = 0.0;
    double quitMs = 0.0;
};

double millisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

Run runOnce(const std::wstring& program, DWORD settleMs) {
    Run run;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program + L"\"";
    LARGE_INTEGER start{};
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        std::fprintf(stderr, "quit-loop: cannot start the program (error %lu)\n", GetLastError());
        std::exit(2);
    }
    Search search;
    search.processId = process.dwProcessId;
    while (search.found == nullptr) {
        EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            break;
        }
        if (WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0 ||
            millisecondsSince(start) > WindowWaitMs) {
            break;
        }
    }
    if (search.found != nullptr) {
        run.windowSeen = true;
        run.windowMs = millisecondsSince(start);
        Sleep(settleMs);
        LARGE_INTEGER quit{};
        QueryPerformanceCounter(&quit);
        PostMessageW(search.found, WM_COMMAND, MAKEWPARAM(MenuQuit, 0), 0);
        if (WaitForSingleObject(process.hProcess, QuitWaitMs) != WAIT_OBJECT_0) {
            run.hung = true;
            TerminateProcess(process.hProcess, 255);
            WaitForSingleObject(process.hProcess, INFINITE);
        }
        run.quitMs = millisecondsSince(quit);
    } else if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 255);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &run.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return run;
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: veltrace-quit-loop.exe PROGRAM COUNT [MAX_SETTLE_MS]\n");
        return 2;
    }
    const std::wstring program = argv[1];
    const int count = std::max(1, _wtoi(argv[2]));
    const DWORD maxSettle = argc > 3 ? static_cast<DWORD>(std::max(0, _wtoi(argv[3]))) : 400;
    std::map<DWORD, int> statuses;
    std::vector<double> windowTimes, quitTimes;
    int noWindow = 0, hangs = 0;
    for (int i = 0; i < count; ++i) {
        // A spread of waits that does not repeat with the worker's 10 ms cycle.
        const DWORD settle = maxSettle == 0 ? 0 : static_cast<DWORD>((i * 97) % (maxSettle + 1));
        const Run run = runOnce(program, settle);
        ++statuses[run.status];
        noWindow += run.windowSeen ? 0 : 1;
        hangs += run.hung ? 1 : 0;
        if (run.windowSeen) {
            windowTimes.push_back(run.windowMs);
            if (!run.hung) {
                quitTimes.push_back(run.quitMs);
            }
        }
        std::printf("run %d: status %lu, window after %.0f ms, waited %lu ms, ended %.0f ms "
                    "after Quit%s%s\n",
                    i + 1, run.status, run.windowMs, settle, run.quitMs,
                    run.windowSeen ? "" : " (no window)", run.hung ? " (hung, ended)" : "");
        std::fflush(stdout);
    }
    std::printf("runs %d; exit statuses:", count);
    for (const auto& [status, times] : statuses) {
        std::printf(" %lu x%d", status, times);
    }
    std::printf("; no window %d; hangs %d; window after ms median %.0f max %.0f; "
                "ended after Quit ms median %.0f p90 %.0f max %.0f\n",
                noWindow, hangs, percentile(windowTimes, 0.5), percentile(windowTimes, 1.0),
                percentile(quitTimes, 0.5), percentile(quitTimes, 0.9), percentile(quitTimes, 1.0));
    const bool allZero = statuses.size() == 1 && statuses.begin()->first == 0;
    return allZero && noWindow == 0 && hangs == 0 ? 0 : 1;
}
