// Shared set-up for the main window's GUI tests: the real toolkit (Qt's offscreen platform on
// Linux, the Win32 backend under Wine), a private working directory (so no settings file and no
// capture lands anywhere else), message boxes and the web browser replaced by recorders, and
// helpers that drive the window through the test driver (tests/driver/) as a person would and
// then let the program's own loop carry out what they did. The Qt build adds a few helpers for
// the tests that are about Qt's widgets themselves.
#pragma once

#include "app/app.h"
#include "app/controls.h"
#include "driver/gui_driver.h"
#include "scratch_dir.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#ifndef _WIN32
#include "toolkit/qt_access.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QWidget>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace veltrace::apptest {

namespace fs = std::filesystem;
namespace tk = veltrace::toolkit;
namespace drive = veltrace::testing_support::driver;
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
        previous_ = fs::current_path();
        path_ = testing_support::makeScratchDirectory("veltrace-app-");
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

    // One turn of the program's loop; returns the event it handled.
    static int turn() {
        app::eventLoopTurn();
        return scope.lastEvent;
    }

    // A click in the middle of the control, then the loop turn that carries it out.
    static int click(int control) {
        EXPECT_NE(tk::controlInfo(control).kind, tk::ControlKind::None) << "control " << control;
        drive::click(control);
        return turn();
    }

    // Puts the pointer at a position of the main window's area below the menu bar.
    static void movePointer(int x, int y) { drive::movePointer(app::MainWindow, x, y); }

    // A click on an image display at a position of the area below the menu bar.
    static int clickAt(int control, int x, int y) {
        movePointer(x, y);
        const tk::ControlInfo info = tk::controlInfo(control);
        drive::clickAt(control, x - info.x, y - info.y);
        return turn();
    }

    // Chooses a menu item as the user would, then the loop turn that carries it out.
    static int chooseMenu(int item) {
        drive::chooseMenuItem(item);
        return turn();
    }

#ifndef _WIN32
    static QWidget* widget(int control) {
        return tk::access::controlWidget(control);
    }
    static QWidget* content() {
        return tk::access::windowContent(app::MainWindow);
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
#endif

    static bool visible(int control) {
        return tk::controlInfo(control).visible;
    }
    static int state(int control) {
        return tk::controlStateGet(control);
    }
};

} // namespace veltrace::apptest
