// Start and end of the toolkit on Win32: the window classes, the common controls, and the order
// in which the layer lets go of its objects.
#include "toolkit/core_internal.h"
#include "toolkit/win32_internal.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace veltrace::toolkit {

namespace {

bool started = false;
bool classesRegistered = false;
StartFailureHandler startFailureHandler;

// The program file's icon 1 at a size the system asks for (shared: the system frees it).
HICON programFileIcon(int widthMetric, int heightMetric) {
    if (!win32::programFileHasIcon()) {
        return nullptr;
    }
    return static_cast<HICON>(LoadImageW(win32::instance(), MAKEINTRESOURCEW(1), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric),
                                         GetSystemMetrics(heightMetric), LR_SHARED));
}

bool registerClasses() {
    if (classesRegistered) {
        return true;
    }
    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.style = CS_DBLCLKS;
    window.lpfnWndProc = win32::windowProcedure;
    window.hInstance = win32::instance();
    // Top-level windows carry the program file's own icon, in the sizes of the title bar and of
    // the task switcher.
    window.hIcon = programFileIcon(SM_CXICON, SM_CYICON);
    window.hIconSm = programFileIcon(SM_CXSMICON, SM_CYSMICON);
    window.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    window.lpszClassName = win32::WindowClass;
    WNDCLASSEXW image{};
    image.cbSize = sizeof image;
    image.style = CS_DBLCLKS;
    image.lpfnWndProc = win32::imageProcedure;
    image.hInstance = win32::instance();
    image.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    image.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    image.lpszClassName = win32::ImageClass;
    if (RegisterClassExW(&window) == 0 || RegisterClassExW(&image) == 0) {
        return false;
    }
    classesRegistered = true;
    return true;
}

} // namespace

void setStartFailureHandler(StartFailureHandler handler) {
    startFailureHandler = std::move(handler);
}

namespace win32 {

bool ready() {
    return started;
}

HINSTANCE instance() {
    return GetModuleHandleW(nullptr);
}

bool programFileHasIcon() {
    constexpr WORD GroupIcon = 14; // RT_GROUP_ICON, whose macro is not the wide kind
    return FindResourceW(instance(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(GroupIcon)) != nullptr;
}

HFONT guiFont() {
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

std::wstring wide(const std::string& latin1) {
    std::wstring result;
    result.reserve(latin1.size());
    for (const char c : latin1) {
        result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return result;
}

} // namespace win32

int toolkitInit() {
    if (started) {
        return 1;
    }
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!registerClasses()) {
        // Not a missing display, as the program's own message for a 0 would say: Windows
        // refused the window classes (a session without a desktop, say). Said in one line.
        const std::string description =
            "no window could be opened (the window classes could not be registered: error " +
            std::to_string(GetLastError()) + ")";
        if (!startFailureHandler) {
            return 0;
        }
        startFailureHandler(description);
        std::fprintf(stderr, "%s\n", description.c_str());
        std::fflush(stderr);
        std::_Exit(1);
    }
    win32::controlsBegin();
    started = true;
    return 1;
}

// GDI draws text into images without any window: the ordinary start will do.
int toolkitInitHeadless() {
    return toolkitInit();
}

void toolkitEnd() {
    detail::threadsForgetAll();
    if (started) {
        win32::closeAllWindows();
        win32::controlsEnd();
        win32::fontsFreeAll();
        win32::clearEvents();
        started = false;
        // Messages still queued for windows that are gone are dropped here, not delivered to a
        // later toolkitInit.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    detail::imagesFreeAll();
}

} // namespace veltrace::toolkit
