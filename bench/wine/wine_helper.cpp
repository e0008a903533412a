// A companion of scripts/measure-wait-windows.sh that runs under Wine beside veltrace.exe.
//   veltrace-wine-helper.exe clock COUNT   prints COUNT lines "NS", each the steady clock's time
//                                          (std::chrono::steady_clock, the performance counter
//                                          under MinGW) written out and flushed at once, about
//                                          1 ms apart, so the reader on Linux can stamp each
//                                          line's arrival on its own clocks and find which of
//                                          them the counter runs on
//   veltrace-wine-helper.exe quit          ends the program through File / Quit (WM_COMMAND
//                                          with the Quit item posted to its main window), so it
//                                          runs its end sequence and prints its statistics;
//                                          exit status 1 when no such window is shown
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int MenuQuit = 7; // the program's File / Quit item
const wchar_t* const MainWindowTitle = L"Veltrace V1.11";

BOOL CALLBACK findMainWindow(HWND hwnd, LPARAM parameter) {
    wchar_t title[64] = {};
    GetWindowTextW(hwnd, title, 63);
    if (IsWindowVisible(hwnd) && std::wstring(title) == MainWindowTitle) {
        *reinterpret_cast<HWND*>(parameter) = hwnd;
        return FALSE;
    }
    return TRUE;
}

int printClock(int count) {
    for (int i = 0; i < count; ++i) {
        const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
        std::printf("%lld\n", ns);
        std::fflush(stdout);
        Sleep(1);
    }
    return 0;
}

int quitProgram() {
    HWND window = nullptr;
    EnumWindows(findMainWindow, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr) {
        std::fprintf(stderr, "veltrace-wine-helper: no window \"Veltrace V1.11\" is shown\n");
        return 1;
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(MenuQuit, 0), 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "clock") == 0) {
        return printClock(std::max(1, std::atoi(argv[2])));
    }
    if (argc == 2 && std::strcmp(argv[1], "quit") == 0) {
        return quitProgram();
    }
    std::fprintf(stderr, "usage: veltrace-wine-helper.exe clock COUNT | quit\n");
    return 2;
}
