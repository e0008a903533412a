// Message boxes and opening documents on Qt (each replaceable by a hook: shell_hooks.cpp).
#include "toolkit/core_internal.h"
#include "toolkit/qt_internal.h"
#include "toolkit/shell_hooks.h"
#include "toolkit/toolkit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <vector>

namespace veltrace::toolkit {

namespace {

constexpr int IdOk = 1;

// The box being shown, so a request to end the program can close it.
QPointer<QMessageBox> openBox;
constexpr int IconMask = 0xF0;
constexpr int IconHand = 0x10;
constexpr int IconQuestion = 0x20;
constexpr int IconAsterisk = 0x40;

QMessageBox::Icon iconFor(int flags) {
    switch (flags & IconMask) {
    case IconHand:
        return QMessageBox::Critical;
    case IconQuestion:
        return QMessageBox::Question;
    case IconAsterisk:
        return QMessageBox::Information;
    case MessageBoxOkExclamation:
        return QMessageBox::Warning;
    default:
        return QMessageBox::NoIcon;
    }
}

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

int messageBox(const std::string& caption, const std::string& text, int flags) {
    const MessageBoxHook hook = detail::messageBoxHook();
    if (hook) {
        return hook(caption, text, flags);
    }
    if (!qt::ready()) {
        return 0;
    }
    if (terminationRequested()) {
        return IdOk; // the program is ending; nobody is there to answer
    }
    const int owner = foregroundWindowNumber();
    qt::WindowEntry* ownerEntry = qt::windowEntry(owner);
    // Our top-most windows would cover the box: they give up the hint while it is shown.
    std::vector<int> topmost;
    for (int number = 0; number < detail::WindowCount; ++number) {
        if (windowTopmost(number) != 0) {
            topmost.push_back(number);
            windowSetTopmost(number, 0);
        }
    }
    {
        QMessageBox box(iconFor(flags), latin1(caption), latin1(text), QMessageBox::Ok,
                        ownerEntry != nullptr ? ownerEntry->frame : nullptr);
        openBox = &box;
        box.exec();
        openBox = nullptr;
    }
    for (int number : topmost) {
        windowSetTopmost(number, 1);
    }
    return IdOk;
}

namespace qt {

void closeOpenMessageBox() {
    if (openBox) {
        openBox->done(QMessageBox::Ok);
    }
}

} // namespace qt

void openDocument(const std::string& address) {
    const OpenDocumentHook hook = detail::openDocumentHook();
    if (hook) {
        hook(address);
        return;
    }
    if (!qt::ready()) {
        return;
    }
    // Hands the address to the desktop's default handler and returns at once.
    QDesktopServices::openUrl(QUrl::fromUserInput(latin1(address)));
}

} // namespace veltrace::toolkit
