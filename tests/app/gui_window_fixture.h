// Shared set-up for the main window's GUI tests: the real toolkit on Qt's offscreen platform, a
// private working directory (so no settings file and no capture lands anywhere else), message
// boxes and the web browser replaced by recorders, and helpers that drive the window with real
// Qt mouse events and then let the program's own loop carry out what they sent.
#pragma once

#include "app/app.h"
#include "app/controls.h"
#include "state/scope_state.h"
#include "toolkit/qt_access.h"
#include "toolkit/toolkit.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace veltrace::apptest {

namespace fs = std::filesystem;
namespace tk = veltrace::toolkit;
using state::scope;
using state::scopeLock;

struct ShownMessage {
    std::string caption;
    std::string text;
    int flags = 0;
};

// A private current directory for one test.
class ScratchDirectory {
  public:
    ScratchDirectory() {
        static std::atomic<int> counter{0};
        previous_ = fs::current_path();
        path_ = fs::temp_directory_path() /
                ("veltrace-app-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        fs::remove_all(path_);
        fs::create_directories(path_);
        fs::current_path(path_);
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        fs::current_path(previous_, ignored);
        fs::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const fs::path& path() const { return path_; }

  private:
    fs::path previous_;
    fs::path path_;
};

// The toolkit, recorders for the two shell services and a scratch directory; no window yet.
class ToolkitFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(tk::toolkitInit(), 1);
        tk::setMessageBoxHook(
            [this](const std::string& caption, const std::string& text, int flags) {
                messages.push_back({caption, text, flags});
                onMessage(caption, text);
                return 1;
            });
        tk::setOpenDocumentHook(
            [this](const std::string& address) { openedDocuments.push_back(address); });
    }
    void TearDown() override {
        tk::toolkitEnd();
        tk::setMessageBoxHook(nullptr);
        tk::setOpenDocumentHook(nullptr);
    }
    // Called inside the message box hook, while the box would be on the screen.
    virtual void onMessage(const std::string&, const std::string&) {}

    ScratchDirectory scratch;
    std::vector<ShownMessage> messages;
    std::vector<std::string> openedDocuments;
};

// The main window as buildMainWindow leaves it, on a freshly reset scope state.
class MainWindowFixture : public ToolkitFixture {
  protected:
    void SetUp() override {
        ToolkitFixture::SetUp();
        state::resetScopeState();
        ASSERT_EQ(app::buildMainWindow(), 1);
    }

    static QWidget* widget(int control) { return tk::access::controlWidget(control); }
    static QWidget* content() { return tk::access::windowContent(app::MainWindow); }

    // One turn of the program's loop; returns the event it handled.
    static int turn() {
        app::eventLoopTurn();
        return scope.lastEvent;
    }

    // A real mouse click on the control, then the loop turn that carries it out.
    static int click(int control) {
        QWidget* target = widget(control);
        EXPECT_NE(target, nullptr) << "control " << control;
        if (target == nullptr) {
            return 0;
        }
        QTest::mouseClick(target, Qt::LeftButton);
        return turn();
    }

    // Puts the pointer at a position of the main window's area below the menu bar.
    // (QTest moves the platform's cursor and lets Qt deliver what that reports at once.)
    static void movePointer(int x, int y) { QTest::mouseMove(content(), QPoint(x, y)); }

    // A click on an image display at a position of the area below the menu bar.
    static int clickAt(int control, int x, int y) {
        movePointer(x, y);
        QWidget* target = widget(control);
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(content(), QPoint(x, y)));
        return turn();
    }

    static QAction* menuAction(const QString& text) {
        QMenuBar* bar = tk::access::windowMenuBar(app::MainWindow);
        if (bar == nullptr) {
            return nullptr;
        }
        for (QAction* title : bar->actions()) {
            if (title->menu() == nullptr) {
                continue;
            }
            for (QAction* item : title->menu()->actions()) {
                if (item->text() == text) {
                    return item;
                }
            }
        }
        return nullptr;
    }

    // Chooses a menu item as the user would, then the loop turn that carries it out.
    static int chooseMenu(const QString& text) {
        QAction* item = menuAction(text);
        EXPECT_NE(item, nullptr) << text.toStdString();
        if (item == nullptr) {
            return 0;
        }
        item->trigger();
        return turn();
    }

    static bool visible(int control) { return tk::controlInfo(control).visible; }
    static int state(int control) { return tk::controlStateGet(control); }
};

} // namespace veltrace::apptest
