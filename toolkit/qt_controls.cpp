// The Qt widgets behind the numbered controls. The record of each control (control_record.cpp)
// is the truth; this file creates the widgets, reports their clicks as program events and brings
// them up to date from the record on the GUI thread. The acquisition thread never touches a
// QObject: it changes the record, and the record wakes the GUI thread's event dispatcher
// (wakeUp is thread-safe), which applies the change inside eventWait.
#include "toolkit/control_record.h"
#include "toolkit/qt_access.h"
#include "toolkit/qt_control_widgets.h"
#include "toolkit/qt_internal.h"
#include "toolkit/toolkit.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QWidget>

#include <algorithm>
#include <array>
#include <atomic>
#include <vector>

namespace veltrace::toolkit {

namespace {

using detail::LastControl;
using detail::validControl;

constexpr int ComboListHeight = 350; // the dropped list is at most this high

// GUI thread only.
std::array<QWidget*, LastControl + 1> widgets{};
std::function<void()> appliedHook;

// Set while the application exists. Only read by wake(), which the record calls under its own
// lock, and the record ends before this is cleared.
std::atomic<QAbstractEventDispatcher*> guiDispatcher{nullptr};

QString latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Static texts separate their lines with a carriage return.
QString labelText(const std::string& text) {
    QString converted = latin1(text);
    converted.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    converted.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return converted;
}

QPixmap pixmapOf(const Image& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return QPixmap();
    }
    // Our rows have no padding: the stride is exactly three bytes per pixel.
    const QImage view(image.rgb.data(), image.width, image.height, 3 * image.width,
                      QImage::Format_RGB888);
    return QPixmap::fromImage(view);
}

void wakeGuiThread() {
    if (QAbstractEventDispatcher* dispatcher = guiDispatcher.load()) {
        dispatcher->wakeUp();
    }
}

void destroyControl(int number) {
    detail::recordForget(number);
    QWidget*& widget = widgets[static_cast<std::size_t>(number)];
    delete widget;
    widget = nullptr;
}

// Common start of every creation: a free number in the window opened last.
QWidget* createStart(int number) {
    if (!qt::ready() || !validControl(number)) {
        return nullptr;
    }
    qt::WindowEntry* window = qt::windowEntry(qt::buildWindow());
    if (window == nullptr) {
        return nullptr;
    }
    destroyControl(number);
    return window->content;
}

void createFinish(int number, QWidget* widget, ControlKind kind, int x, int y, int w, int h,
                  const std::string& text) {
    detail::recordCreate(number, kind, qt::buildWindow(), x, y, w, h, text);
    widget->setGeometry(x, y, std::max(0, w), std::max(0, h));
    widgets[static_cast<std::size_t>(number)] = widget;
    widget->show();
}

void applyUpdate(const detail::PendingUpdate& update) {
    QWidget* widget = widgets[static_cast<std::size_t>(update.number)];
    if (widget == nullptr) {
        return;
    }
    if (update.text) {
        switch (update.kind) {
        case ControlKind::PushButton:
        case ControlKind::ToggleButton:
        case ControlKind::OptionButton:
            static_cast<QAbstractButton*>(widget)->setText(latin1(update.textValue));
            break;
        case ControlKind::Label:
        case ControlKind::ValueText:
            static_cast<QLabel*>(widget)->setText(labelText(update.textValue));
            break;
        default:
            break;
        }
    }
    if (update.state) {
        // Setting a state from the program never produces an event.
        const QSignalBlocker blocker(widget);
        switch (update.kind) {
        case ControlKind::ToggleButton:
        case ControlKind::OptionButton:
            static_cast<QAbstractButton*>(widget)->setChecked(update.stateValue != 0);
            break;
        case ControlKind::ComboBox:
            static_cast<QComboBox*>(widget)->setCurrentIndex(update.stateValue);
            break;
        default:
            break;
        }
    }
    if (update.image && update.kind == ControlKind::ImageDisplay) {
        static_cast<qt::PictureDisplay*>(widget)->showPicture(update.picture, update.pictureHandle);
    }
    if (update.visible) {
        widget->setVisible(update.visibleValue);
    }
}

} // namespace

namespace qt {

void controlsBegin() {
    widgets.fill(nullptr);
    guiDispatcher = QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    detail::recordBegin(detail::ControlBackend{&qt::applyDirtyRecords, &wakeGuiThread});
}

void controlsEnd() {
    // The record first: from then on no worker can reach wakeGuiThread.
    detail::recordEnd();
    guiDispatcher = nullptr;
    widgets.fill(nullptr); // deleted with their windows
}

void forgetControlsOfWindow(int window) {
    for (int number : detail::recordControlsOfWindow(window)) {
        destroyControl(number);
    }
    detail::recordWindowClosed(window);
}

void applyDirtyRecords() {
    for (const detail::PendingUpdate& update : detail::takeDirtyUpdates()) {
        applyUpdate(update);
    }
    if (appliedHook) {
        // A copy: the hook may replace itself.
        const std::function<void()> hook = appliedHook;
        hook();
    }
}

QWidget* controlWidgetOf(int number) {
    return validControl(number) ? widgets[static_cast<std::size_t>(number)] : nullptr;
}

void setRecordsAppliedHook(std::function<void()> hook) {
    appliedHook = std::move(hook);
}

} // namespace qt

void pushButtonCreate(int number, int x, int y, int w, int h, const std::string& caption) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* button = new QPushButton(latin1(caption), parent);
    const int window = qt::buildWindow();
    QObject::connect(button, &QPushButton::clicked, [number, window] {
        qt::postEvent(qt::QueuedEvent{EventControl, number, 0, 0, window});
    });
    createFinish(number, button, ControlKind::PushButton, x, y, w, h, caption);
}

void toggleButtonCreate(int number, int x, int y, int w, int h, const std::string& caption) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* button = new QPushButton(latin1(caption), parent);
    button->setCheckable(true);
    const int window = qt::buildWindow();
    // Qt flips a checkable button before it emits clicked, so the record holds the new state
    // by the time the program takes the event.
    QObject::connect(button, &QPushButton::toggled,
                     [number](bool on) { detail::recordStateFromWidget(number, on ? 1 : 0); });
    QObject::connect(button, &QPushButton::clicked, [number, window] {
        qt::postEvent(qt::QueuedEvent{EventControl, number, 0, 0, window});
    });
    createFinish(number, button, ControlKind::ToggleButton, x, y, w, h, caption);
}

void optionButtonCreate(int number, int x, int y, int w, int h, const std::string& caption) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* button = new QRadioButton(latin1(caption), parent);
    // Groups follow creation order, not the parent widget as Qt's own exclusivity would.
    button->setAutoExclusive(false);
    const int window = qt::buildWindow();
    QObject::connect(button, &QRadioButton::clicked, [number, window, button](bool checked) {
        if (!checked) {
            // A click on a selected option button keeps it selected.
            const QSignalBlocker blocker(button);
            button->setChecked(true);
        }
        detail::recordOptionSelected(number);
        qt::applyDirtyRecords();
        qt::postEvent(qt::QueuedEvent{EventControl, number, 0, 0, window});
    });
    createFinish(number, button, ControlKind::OptionButton, x, y, w, h, caption);
}

void labelCreate(int number, int x, int y, int w, int h, const std::string& caption, int centred) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* label = new qt::PaintedLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment((centred != 0 ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
    label->setText(labelText(caption));
    createFinish(number, label, ControlKind::Label, x, y, w, h, caption);
}

void valueTextCreate(int number, int x, int y, int w, int h) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* label = new qt::PaintedLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setLineWidth(2);
    label->setIndent(0); // the text starts right inside the 2-pixel edge
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    createFinish(number, label, ControlKind::ValueText, x, y, w, h, std::string());
}

void imageDisplayCreate(int number, int x, int y, int w, int h, int sunkenEdge) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* display = new qt::PictureDisplay(number, qt::buildWindow(), parent);
    if (sunkenEdge != 0) {
        display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        display->setLineWidth(2);
    } else {
        display->setFrameStyle(QFrame::NoFrame);
    }
    createFinish(number, display, ControlKind::ImageDisplay, x, y, w, h, std::string());
}

void pictureButtonCreate(int number, int x, int y, int w, int h, Handle image) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* button = new QPushButton(parent);
    if (const std::shared_ptr<const Image> picture = imageByHandle(image)) {
        const QPixmap pixmap = pixmapOf(*picture);
        button->setIcon(QIcon(pixmap));
        button->setIconSize(pixmap.size());
    }
    const int window = qt::buildWindow();
    QObject::connect(button, &QPushButton::clicked, [number, window] {
        qt::postEvent(qt::QueuedEvent{EventControl, number, 0, 0, window});
    });
    createFinish(number, button, ControlKind::PictureButton, x, y, w, h, std::string());
    detail::recordPictureButtonImage(number, image);
}

void comboBoxCreate(int number, int x, int y, int w, int h) {
    QWidget* parent = createStart(number);
    if (parent == nullptr) {
        return;
    }
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    const int rowHeight = std::max(1, QFontMetrics(combo->font()).height() + 4);
    combo->setMaxVisibleItems(std::max(1, ComboListHeight / rowHeight));
    QObject::connect(combo, &QComboBox::currentIndexChanged,
                     [number](int index) { detail::recordStateFromWidget(number, index); });
    createFinish(number, combo, ControlKind::ComboBox, x, y, w, h, std::string());
}

void comboItemAdd(int number, const std::string& text) {
    if (!qt::ready() || !validControl(number)) {
        return;
    }
    auto* combo = qobject_cast<QComboBox*>(widgets[static_cast<std::size_t>(number)]);
    if (combo == nullptr) {
        return;
    }
    detail::recordComboItemAdd(number, text);
    const QSignalBlocker blocker(combo);
    const int selected = combo->currentIndex();
    combo->addItem(latin1(text));
    // The first entry of an empty list does not select itself: the field stays empty until
    // the program selects something.
    combo->setCurrentIndex(selected);
}

namespace access {

QWidget* controlWidget(int number) {
    return qt::controlWidgetOf(number);
}

} // namespace access

} // namespace veltrace::toolkit
