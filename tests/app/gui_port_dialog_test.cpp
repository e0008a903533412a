// The port selection dialog, run for real: it blocks in its own wait, so each test hands it the
// user's actions through a timer that fires inside that wait, once the dialog is on screen.
#include "gui_window_fixture.h"

#include "state/settings.h"

#include <QComboBox>
#include <QTimer>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace veltrace::apptest {
namespace {

using app::ButtonOk;
using app::ComboPorts;
using app::PortDialog;
using app::TextNoPorts;

const char* const SettingsFile = "Veltrace.ini";
const std::string SettingsText = "; the bench scope\n[COM]\nCOMPort=COM2\n\n[Other]\nKey=1\n";

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

class PortDialogFixture : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        // COM3 leads nowhere, so a reconnect to it shows the port's message (and only then).
        setenv("VELTRACE_COM3", (scratch.path() / "no-such-device").c_str(), 1);
        setPorts({"COM1", "COM2", "COM3"}, "COM2");
    }
    void TearDown() override {
        unsetenv("VELTRACE_COM3");
        MainWindowFixture::TearDown();
    }

    static void setPorts(const std::vector<std::string>& names, const std::string& configured) {
        std::lock_guard<std::recursive_mutex> guard(state::scopeLock());
        for (std::size_t i = 0; i < scope.comPortNames.size(); ++i) {
            scope.comPortNames[i] = i < names.size() ? names[i] : std::string();
        }
        scope.comPortCount = static_cast<std::uint8_t>(names.size());
        scope.comPortName = configured;
    }

    void onMessage(const std::string&, const std::string&) override {
        settingsWhenReconnecting = readFile(SettingsFile);
    }

    // `action` runs from inside the dialog's own wait, as soon as the dialog is on screen.
    void whenDialogOpen(std::function<void()> action) {
        pending = std::move(action);
        QTimer::singleShot(0, [this] { poll(); });
    }

    void poll() {
        if (tk::windowExists(PortDialog) && widget(ButtonOk) != nullptr) {
            ranWhileOpen = true;
            pending();
        } else {
            QTimer::singleShot(5, [this] { poll(); });
        }
    }

    static QComboBox* combo() { return qobject_cast<QComboBox*>(widget(ComboPorts)); }
    static void pressOk() { QTest::mouseClick(widget(ButtonOk), Qt::LeftButton); }
    static void pressCloseBox() { tk::access::windowWidget(PortDialog)->close(); }
    // The user picks the next entry of the list with the keyboard.
    static void chooseNextEntry() { QTest::keyClick(combo(), Qt::Key_Down); }

    std::function<void()> pending;
    bool ranWhileOpen = false;
    std::string settingsWhenReconnecting;
};

// ---- What Ok and the close box do --------------------------------------------------------------

class PortDialogChoice : public PortDialogFixture {};

TEST_F(PortDialogChoice, OkOnTheConfiguredPortWritesNothingAndDoesNotReconnect) {
    writeFile(SettingsFile, SettingsText);
    std::string shown;
    whenDialogOpen([&] {
        shown = tk::controlTextGet(ComboPorts);
        pressOk();
    });
    chooseMenu(app::MenuComPort);
    ASSERT_TRUE(ranWhileOpen);
    EXPECT_EQ(shown, "COM2");
    EXPECT_EQ(readFile(SettingsFile), SettingsText);
    EXPECT_TRUE(messages.empty()); // no reopen was tried
    EXPECT_FALSE(tk::windowExists(PortDialog));
}

TEST_F(PortDialogChoice, OkOnAnotherPortWritesItBeforeReconnecting) {
    writeFile(SettingsFile, SettingsText);
    std::string chosen;
    whenDialogOpen([&] {
        chooseNextEntry();
        chosen = tk::controlTextGet(ComboPorts);
        pressOk();
    });
    chooseMenu(app::MenuComPort);
    ASSERT_EQ(chosen, "COM3");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find("COM3"), std::string::npos) << messages[0].text;
    // When the new port was opened, the file already named it, and nothing else had changed.
    EXPECT_EQ(settingsWhenReconnecting,
              "; the bench scope\n[COM]\nCOMPort=COM3\n\n[Other]\nKey=1\n");
    EXPECT_EQ(state::readSetting("COM", "COMPort", SettingsFile), "COM3");
    std::lock_guard<std::recursive_mutex> guard(state::scopeLock());
    EXPECT_EQ(scope.comPortName, "COM3");
}

TEST_F(PortDialogChoice, CloseBoxAfterChangingTheSelectionWritesNothing) {
    writeFile(SettingsFile, SettingsText);
    whenDialogOpen([&] {
        chooseNextEntry();
        pressCloseBox();
    });
    EXPECT_EQ(app::runPortDialog(), std::nullopt);
    ASSERT_TRUE(ranWhileOpen);
    EXPECT_EQ(readFile(SettingsFile), SettingsText);
    EXPECT_FALSE(tk::windowExists(PortDialog));
}

TEST_F(PortDialogChoice, ConfiguredPortNotListedSelectsNothingAndOkWritesAnEmptyPort) {
    writeFile(SettingsFile, SettingsText);
    setPorts({"COM1", "COM3"}, "COM2");
    std::string shown = "unread";
    int index = 0;
    whenDialogOpen([&] {
        shown = tk::controlTextGet(ComboPorts);
        index = combo()->currentIndex();
        pressOk();
    });
    chooseMenu(app::MenuComPort);
    EXPECT_EQ(shown, "");
    EXPECT_EQ(index, -1);
    // Kept on purpose: the empty choice differs from COM2, so it is stored, and the link then
    // opens no port and says nothing.
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(scope.comPortName, "");
    EXPECT_NE(readFile(SettingsFile).find("COMPort=\n"), std::string::npos)
        << readFile(SettingsFile);
    EXPECT_NE(readFile(SettingsFile).find("Key=1"), std::string::npos);
}

// ---- The list ----------------------------------------------------------------------------------

class PortDialogList : public PortDialogFixture {};

TEST_F(PortDialogList, SixteenPortsAreListedInTheirOrder) {
    std::vector<std::string> names;
    for (int n = 1; n <= 16; ++n) {
        names.push_back("COM" + std::to_string(n));
    }
    setPorts(names, "COM16");
    std::vector<std::string> record;
    std::vector<std::string> shown;
    whenDialogOpen([&] {
        record = tk::controlInfo(ComboPorts).items;
        for (int i = 0; i < combo()->count(); ++i) {
            shown.push_back(combo()->itemText(i).toStdString());
        }
        pressCloseBox();
    });
    app::runPortDialog();
    EXPECT_EQ(record, names);
    EXPECT_EQ(shown, names);
}

TEST_F(PortDialogList, WithoutPortsTheDialogSaysSoAndOkWritesNothing) {
    setPorts({}, "COM2");
    tk::ControlInfo label;
    bool comboThere = true;
    whenDialogOpen([&] {
        label = tk::controlInfo(TextNoPorts);
        comboThere = widget(ComboPorts) != nullptr;
        pressOk();
    });
    EXPECT_EQ(app::runPortDialog(), std::nullopt);
    EXPECT_EQ(label.kind, tk::ControlKind::Label);
    EXPECT_EQ(label.text, "No COM-Ports available!");
    EXPECT_TRUE(label.visible);
    EXPECT_FALSE(comboThere);
    EXPECT_FALSE(fs::exists(SettingsFile));
}

// ---- The dialog among the program's windows ----------------------------------------------------

class PortDialogWindows : public PortDialogFixture {};

TEST_F(PortDialogWindows, OpensBesideTheMainWindowWhichStaysDisabledUntilItCloses) {
    int mainEnabled = -1;
    int left = 0, top = 0, width = 0, height = 0;
    tk::ControlInfo ok;
    whenDialogOpen([&] {
        mainEnabled = tk::windowEnabled(app::MainWindow);
        left = tk::windowLeft(PortDialog);
        top = tk::windowTop(PortDialog);
        width = tk::windowInnerWidth(PortDialog);
        height = tk::windowInnerHeight(PortDialog);
        ok = tk::controlInfo(ButtonOk);
        pressOk();
    });
    app::runPortDialog();
    EXPECT_EQ(mainEnabled, 0);
    EXPECT_EQ(left, tk::windowLeft(app::MainWindow) + 300);
    EXPECT_EQ(top, tk::windowTop(app::MainWindow) + 200);
    EXPECT_EQ(width, 200);
    EXPECT_EQ(height, 70);
    EXPECT_EQ(ok.text, "Ok");
    EXPECT_EQ(ok.window, PortDialog);
    EXPECT_EQ(tk::windowEnabled(app::MainWindow), 1);
}

TEST_F(PortDialogWindows, OpenAboutWindowClosesAsTheDialogOpensAndStaysClosed) {
    chooseMenu(app::MenuAbout);
    ASSERT_EQ(tk::controlInfo(app::TextAbout).kind, tk::ControlKind::Label);
    tk::ControlInfo aboutText;
    aboutText.kind = tk::ControlKind::Label;
    whenDialogOpen([&] {
        aboutText = tk::controlInfo(app::TextAbout);
        pressOk();
    });
    chooseMenu(app::MenuComPort);
    EXPECT_EQ(aboutText.kind, tk::ControlKind::None);
    EXPECT_FALSE(tk::windowExists(app::AboutWindow));
    EXPECT_EQ(tk::controlInfo(app::ButtonDonate).kind, tk::ControlKind::None);
}

// ---- The scope lock while the dialog waits -----------------------------------------------------

class PortDialogThreaded : public PortDialogFixture {};

TEST_F(PortDialogThreaded, AnotherThreadCanTakeTheScopeLockWhileTheDialogWaits) {
    bool otherThreadGotIt = false;
    whenDialogOpen([&] {
        std::thread worker([&] {
            if (state::scopeLock().try_lock()) {
                otherThreadGotIt = true;
                state::scopeLock().unlock();
            }
        });
        worker.join();
        pressOk();
    });
    chooseMenu(app::MenuComPort); // the whole command, as the event loop runs it
    ASSERT_TRUE(ranWhileOpen);
    EXPECT_TRUE(otherThreadGotIt);
}

} // namespace
} // namespace veltrace::apptest
