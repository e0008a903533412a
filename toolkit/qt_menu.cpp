// The menu bar: a QMenuBar child at the top of a window, titles as drop-down menus, numbered
// items that report menu events. Qt reads "&" before a letter as the mnemonic, as the program
// writes it.
#include "toolkit/qt_access.h"
#include "toolkit/qt_internal.h"
#include "toolkit/toolkit.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QWidget>

#include <map>

namespace veltrace::toolkit {

namespace {

struct MenuItem {
    QPointer<QAction> action;
    int window = -1;
};

// Titles and items go to the menu bar created last and its last title.
int menuWindow = -1;
QPointer<QMenu> currentMenu;
std::map<int, MenuItem> items;

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

void forgetItem(int item) {
    const auto found = items.find(item);
    if (found == items.end()) {
        return;
    }
    delete found->second.action.data();
    items.erase(found);
}

} // namespace

namespace qt {

void forgetMenusOfWindow(int window) {
    std::erase_if(items, [window](const auto& entry) { return entry.second.window == window; });
    if (menuWindow == window) {
        menuWindow = -1;
        currentMenu = nullptr;
    }
}

QAction* menuItemActionOf(int item) {
    const auto found = items.find(item);
    return found != items.end() ? found->second.action.data() : nullptr;
}

} // namespace qt

int menuBarCreate(int window) {
    qt::WindowEntry* entry = qt::windowEntry(window);
    if (entry == nullptr) {
        return 0;
    }
    if (entry->menuBar != nullptr) {
        qt::forgetMenusOfWindow(window);
        delete entry->menuBar;
    }
    auto* bar = new QMenuBar(entry->frame);
    // A platform menu bar outside the window (macOS, some Linux desktops) would not take its
    // height out of the client area.
    bar->setNativeMenuBar(false);
    entry->menuBar = bar;
    qt::layoutWindow(*entry);
    bar->show();
    menuWindow = window;
    currentMenu = nullptr;
    return 1;
}

void menuTitleAdd(const std::string& title) {
    qt::WindowEntry* entry = qt::windowEntry(menuWindow);
    if (entry == nullptr || entry->menuBar == nullptr) {
        return;
    }
    currentMenu = entry->menuBar->addMenu(latin1(title));
    qt::layoutWindow(*entry); // the bar's height follows its contents
}

void menuItemAdd(int item, const std::string& text) {
    if (currentMenu.isNull() || qt::windowEntry(menuWindow) == nullptr) {
        return;
    }
    forgetItem(item);
    QAction* action = currentMenu->addAction(latin1(text));
    const int window = menuWindow;
    QObject::connect(action, &QAction::triggered, [item, window] {
        qt::postEvent(qt::QueuedEvent{EventMenu, 0, 0, item, window});
    });
    items[item] = MenuItem{action, window};
}

void menuSeparatorAdd() {
    if (!currentMenu.isNull()) {
        currentMenu->addSeparator();
    }
}

namespace access {

QAction* menuItemAction(int item) {
    return qt::menuItemActionOf(item);
}

} // namespace access

} // namespace veltrace::toolkit
