// The modal port selection dialog. It runs its own small event loop while the main window is
// disabled; the acquisition thread goes on drawing meanwhile, so the scope lock is taken only
// to read the port list, never across the wait.
#include "app/app.h"
#include "app/controls.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <mutex>
#include <string>
#include <vector>

namespace veltrace::app {

using state::scope;

std::optional<std::string> runPortDialog() {
    std::vector<std::string> names;
    std::string configured;
    {
        std::lock_guard<std::recursive_mutex> guard(state::scopeLock());
        for (int i = 0; i < scope.comPortCount && i < state::PortNameSlots; ++i) {
            names.push_back(scope.comPortNames[static_cast<std::size_t>(i)]);
        }
        configured = scope.comPortName;
    }

    // Window 1 is also the About window's number: an open About window closes here.
    toolkit::windowOpen(PortDialog, toolkit::windowLeft(MainWindow) + 300,
                        toolkit::windowTop(MainWindow) + 200, 200, 70, "Select COM-Port",
                        toolkit::WindowFixedCaption);
    toolkit::pushButtonCreate(ButtonOk, 80, 40, 40, 25, "Ok");
    if (!names.empty()) {
        toolkit::comboBoxCreate(ComboPorts, 50, 10, 100, 21);
        for (std::size_t i = 0; i < names.size(); ++i) {
            toolkit::comboItemAdd(ComboPorts, names[i]);
            // Exact, case-sensitive: a configured port that is not listed selects nothing.
            if (names[i] == configured) {
                toolkit::controlStateSet(ComboPorts, static_cast<toolkit::Handle>(i));
            }
        }
    } else {
        toolkit::labelCreate(TextNoPorts, 10, 10, 250, 20, "No COM-Ports available!", 0);
    }
    toolkit::windowSetTopmost(PortDialog, 1);
    toolkit::windowEnable(MainWindow, 0);

    std::optional<std::string> chosen;
    bool done = false;
    while (!done) {
        const int event = toolkit::eventWait(-1);
        if (event == toolkit::EventControl && toolkit::eventControl() == ButtonOk) {
            if (!names.empty()) {
                // Ok with nothing selected chooses "" (no port) when a port was configured.
                const std::string selected = toolkit::controlTextGet(ComboPorts);
                if (selected != configured) {
                    chosen = selected;
                }
            }
            done = true;
        } else if ((event == toolkit::EventClose && toolkit::eventWindow() == PortDialog) ||
                   event == toolkit::EventTerminate) {
            done = true;
        }
        toolkit::pause(10);
    }

    toolkit::windowClose(PortDialog);
    toolkit::windowRaise(MainWindow);
    toolkit::windowEnable(MainWindow, 1);
    return chosen;
}

} // namespace veltrace::app
