// The menu bar on Win32: a menu bar of drop-down menus whose numbered items report menu events
// (WM_COMMAND with the item's number). "&" before a letter is the item's mnemonic, as the
// program writes it.
#include "toolkit/win32_internal.h"

#include <map>

namespace veltrace::toolkit {

namespace {

// Titles and items go to the menu bar created last and its last title.
int menuWindow = -1;
HMENU currentMenu = nullptr;
std::map<int, int> itemWindows; // item number -> window

} // namespace

namespace win32 {

void forgetMenusOfWindow(int window) {
    std::erase_if(itemWindows, [window](const auto& entry) { return entry.second == window; });
    if (menuWindow == window) {
        menuWindow = -1;
        currentMenu = nullptr;
    }
}

} // namespace win32

int menuBarCreate(int window) {
    win32::WindowEntry* entry = win32::windowEntry(window);
    if (entry == nullptr) {
        return 0;
    }
    const HMENU bar = CreateMenu();
    if (bar == nullptr) {
        return 0;
    }
    win32::forgetMenusOfWindow(window);
    const HMENU old = GetMenu(entry->hwnd);
    SetMenu(entry->hwnd, bar);
    if (old != nullptr) {
        DestroyMenu(old);
    }
    entry->menuBar = bar;
    menuWindow = window;
    currentMenu = nullptr;
    return 1;
}

void menuTitleAdd(const std::string& title) {
    win32::WindowEntry* entry = win32::windowEntry(menuWindow);
    if (entry == nullptr || entry->menuBar == nullptr) {
        return;
    }
    const HMENU menu = CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
    AppendMenuW(entry->menuBar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(menu),
                win32::wide(title).c_str());
    DrawMenuBar(entry->hwnd);
    currentMenu = menu;
}

void menuItemAdd(int item, const std::string& text) {
    if (currentMenu == nullptr || win32::windowEntry(menuWindow) == nullptr || item <= 0 ||
        item >= win32::ControlIdBase) {
        return;
    }
    AppendMenuW(currentMenu, MF_STRING, static_cast<UINT_PTR>(item), win32::wide(text).c_str());
    itemWindows[item] = menuWindow;
}

void menuSeparatorAdd() {
    if (currentMenu != nullptr) {
        AppendMenuW(currentMenu, MF_SEPARATOR, 0, nullptr);
    }
}

} // namespace veltrace::toolkit
