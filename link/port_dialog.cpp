// The modal port selection dialog. It runs its own small event loop while the main window is
// disabled; the acquisition thread goes on drawing meanwhile, so the scope lock is taken only
// for the moments the dialog reads or writes scope fields, never across the wait.
#include "link/port_dialog.h"

#include "app/controls.h"
#include "app/scope_state.h"
#include "app/settings.h"
#include "toolkit/toolkit.h"

#include <mutex>
#include <string>
#include <vector>

namespace veltrace::link {

using app::scope;
using app::scopeLock;

int runPortDialog() {
    std::vector<std::string> names;
    std::string configured;
    {
        std::lock_guard<std::recursive_mutex> guard(scopeLock());
        for (int i = 0; i < scope.comPortCount && i < app::PortNameSlots; ++i) {
            names.push_back(scope.comPortNames[i]);
        }
        configured = scope.comPortName;
    }

    // Window 1 is also the About window's number: an open About window closes here.
    toolkit::windowOpen(app::PortDialog, toolkit::windowLeft(app::MainWindow) + 300,
                        toolkit::windowTop(app::MainWindow) + 200, 200, 70, "Select COM-Port",
                        toolkit::WindowFixedCaption);
    toolkit::pushButtonCreate(app::ButtonOk, 80, 40, 40, 25, "Ok");
    if (!names.empty()) {
        toolkit::comboBoxCreate(app::ComboPorts, 50, 10, 100, 21);
        for (std::size_t i = 0; i < names.size(); ++i) {
            toolkit::comboItemAdd(app::ComboPorts, names[i]);
            // Exact, case-sensitive: a configured port that is not listed selects nothing.
            if (names[i] == configured) {
                toolkit::controlStateSet(app::ComboPorts, static_cast<toolkit::Handle>(i));
            }
        }
    } else {
        toolkit::labelCreate(app::TextNoPorts, 10, 10, 250, 20, "No COM-Ports available!", 0);
    }
    toolkit::windowSetTopmost(app::PortDialog, 1);
    toolkit::windowEnable(app::MainWindow, 0);

    bool done = false;
    while (!done) {
        const int event = toolkit::eventWait(-1);
        if (event == toolkit::EventControl && toolkit::eventControl() == app::ButtonOk) {
            if (!names.empty()) {
                const std::string chosen = toolkit::controlTextGet(app::ComboPorts);
                std::string settingsPath;
                bool changed = false;
                {
                    std::lock_guard<std::recursive_mutex> guard(scopeLock());
                    if (chosen != scope.comPortName) {
                        scope.portSelectionChanged = 1;
                        settingsPath = scope.settingsPath;
                        changed = true;
                    }
                }
                // Written at once, before the caller reconnects from the setting.
                if (changed) {
                    app::writeSetting("COM", "COMPort", chosen, settingsPath);
                }
            }
            done = true;
        } else if (event == toolkit::EventClose && toolkit::eventWindow() == app::PortDialog) {
            done = true;
        }
        toolkit::pause(10);
    }

    toolkit::windowClose(app::PortDialog);
    toolkit::windowRaise(app::MainWindow);
    toolkit::windowEnable(app::MainWindow, 1);
    return 0;
}

} // namespace veltrace::link
