// Numbered controls and the toolkit's own record of them.
//
// The record (kind, place, text, state, visibility, image, combo entries) lives under its own
// mutex and is what the getters read and the setters write, from either thread. The acquisition
// thread never touches a QObject: it changes the record, marks the control dirty and wakes the
// GUI thread's event dispatcher (wakeUp is thread-safe); the GUI thread brings the widgets up to
// date from the record inside eventWait. On the GUI thread a setter applies at once.
#include "toolkit/qt_access.h"
#include "toolkit/qt_internal.h"
#include "toolkit/toolkit.h"

#include <QAbstractEventDispatcher>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <array>
#include <mutex>
#include <thread>
#include <vector>

namespace veltrace::toolkit {

namespace {

constexpr int FirstControl = 1;
constexpr int LastControl = 64;
constexpr int ComboListHeight = 350; // the dropped list is at most this high

struct ControlRecord {
    bool exists = false;
    ControlKind kind = ControlKind::None;
    int window = -1;
    int x = 0, y = 0, w = 0, h = 0;
    std::string text;
    int state = 0; // pressed/selected, or the combo box's selected index (-1 none)
    bool visible = true;
    Handle image = 0;
    std::shared_ptr<const Image> picture; // what an image display shows
    std::vector<std::string> items;
    int group = 0; // option buttons: buttons of one group clear each other
    bool dirtyText = false;
    bool dirtyState = false;
    bool dirtyVisible = false;
    bool dirtyImage = false;
};

struct ControlTable {
    std::mutex mutex;
    std::array<ControlRecord, LastControl + 1> records;
    // Set while the application exists; cleared under the mutex in toolkitEnd, so a worker
    // never wakes a dispatcher that has gone.
    QAbstractEventDispatcher* dispatcher = nullptr;
    std::thread::id guiThread;
};

ControlTable& table() {
    static ControlTable instance;
    return instance;
}

// GUI thread only: the widgets, and how the option groups form.
std::array<QWidget*, LastControl + 1> widgets{};
int lastCreatedKindWindow = -1;
ControlKind lastCreatedKind = ControlKind::None;
int lastGroup = 0;
std::function<void()> appliedHook;

bool validControl(int number) {
    return number >= FirstControl && number <= LastControl;
}

ControlRecord& recordOf(int number) {
    return table().records[static_cast<std::size_t>(number)];
}

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

bool onGuiThread(const ControlTable& controls) {
    return controls.dispatcher != nullptr && std::this_thread::get_id() == controls.guiThread;
}

// Shows the picture at (2, 2) with the sunken edge; reports clicks and double clicks.
class ImageDisplay : public QLabel {
  public:
    ImageDisplay(int number, int window, QWidget* parent)
        : QLabel(parent), number_(number), window_(window) {}

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            qt::postEvent(qt::QueuedEvent{EventControl, number_, 0, 0, window_});
        }
        event->accept();
    }

    // The default forwards to mousePressEvent, which would report a second plain click.
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            qt::postEvent(qt::QueuedEvent{EventControl, number_, 1, 0, window_});
        }
        event->accept();
    }

  private:
    int number_;
    int window_;
};

// Changes a record from the GUI thread's own widget signals (no dirty flag: the widget already
// shows it).
void recordStateFromWidget(int number, int state) {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    ControlRecord& record = recordOf(number);
    if (record.exists) {
        record.state = state;
    }
}

void destroyControl(int number) {
    {
        ControlTable& controls = table();
        std::lock_guard lock(controls.mutex);
        recordOf(number) = ControlRecord{};
    }
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
    const int window = qt::buildWindow();
    int group = 0;
    if (kind == ControlKind::OptionButton) {
        // One created right after another option button joins its group.
        const bool joins =
            lastCreatedKind == ControlKind::OptionButton && lastCreatedKindWindow == window;
        group = joins ? lastGroup : ++lastGroup;
    }
    lastCreatedKind = kind;
    lastCreatedKindWindow = window;
    {
        ControlTable& controls = table();
        std::lock_guard lock(controls.mutex);
        ControlRecord& record = recordOf(number);
        record = ControlRecord{};
        record.exists = true;
        record.kind = kind;
        record.window = window;
        record.x = x;
        record.y = y;
        record.w = w;
        record.h = h;
        record.text = text;
        record.state = kind == ControlKind::ComboBox ? -1 : 0;
        record.visible = true;
        record.group = group;
    }
    widget->setGeometry(x, y, std::max(0, w), std::max(0, h));
    widgets[static_cast<std::size_t>(number)] = widget;
    widget->show();
}

// The option buttons of one group other than `number`, cleared in the record.
void clearGroupExcept(int number) {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& self = recordOf(number);
    for (int other = FirstControl; other <= LastControl; ++other) {
        ControlRecord& record = recordOf(other);
        if (other != number && record.exists && record.kind == ControlKind::OptionButton &&
            record.window == self.window && record.group == self.group && record.state != 0) {
            record.state = 0;
            record.dirtyState = true;
        }
    }
}

struct PendingUpdate {
    int number = 0;
    ControlKind kind = ControlKind::None;
    bool text = false, state = false, visible = false, image = false;
    std::string textValue;
    int stateValue = 0;
    bool visibleValue = true;
    std::shared_ptr<const Image> picture;
};

void applyUpdate(const PendingUpdate& update) {
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
        auto* label = static_cast<QLabel*>(widget);
        if (update.picture) {
            label->setPixmap(pixmapOf(*update.picture));
        } else {
            label->clear();
        }
    }
    if (update.visible) {
        widget->setVisible(update.visibleValue);
    }
}

// Marks the change and gets it to the widget: at once on the GUI thread, else by waking it.
void changed(ControlTable& controls, std::unique_lock<std::mutex>& lock) {
    if (onGuiThread(controls)) {
        lock.unlock();
        qt::applyDirtyRecords();
        return;
    }
    if (controls.dispatcher != nullptr) {
        controls.dispatcher->wakeUp();
    }
}

} // namespace

namespace qt {

void controlsBegin() {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    controls.records.fill(ControlRecord{});
    controls.dispatcher =
        QAbstractEventDispatcher::instance(QCoreApplication::instance()->thread());
    controls.guiThread = std::this_thread::get_id();
    widgets.fill(nullptr);
    lastCreatedKind = ControlKind::None;
    lastCreatedKindWindow = -1;
}

void controlsEnd() {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    controls.records.fill(ControlRecord{});
    controls.dispatcher = nullptr;
    controls.guiThread = std::thread::id();
    widgets.fill(nullptr); // deleted with their windows
}

void forgetControlsOfWindow(int window) {
    std::vector<int> doomed;
    {
        ControlTable& controls = table();
        std::lock_guard lock(controls.mutex);
        for (int number = FirstControl; number <= LastControl; ++number) {
            if (recordOf(number).exists && recordOf(number).window == window) {
                doomed.push_back(number);
            }
        }
    }
    for (int number : doomed) {
        destroyControl(number);
    }
    if (lastCreatedKindWindow == window) {
        lastCreatedKind = ControlKind::None;
        lastCreatedKindWindow = -1;
    }
}

void applyDirtyRecords() {
    std::vector<PendingUpdate> updates;
    {
        ControlTable& controls = table();
        std::lock_guard lock(controls.mutex);
        for (int number = FirstControl; number <= LastControl; ++number) {
            ControlRecord& record = recordOf(number);
            if (!record.exists || !(record.dirtyText || record.dirtyState || record.dirtyVisible ||
                                    record.dirtyImage)) {
                continue;
            }
            PendingUpdate update;
            update.number = number;
            update.kind = record.kind;
            update.text = record.dirtyText;
            update.state = record.dirtyState;
            update.visible = record.dirtyVisible;
            update.image = record.dirtyImage;
            update.textValue = record.text;
            update.stateValue = record.state;
            update.visibleValue = record.visible;
            update.picture = record.picture;
            record.dirtyText = record.dirtyState = record.dirtyVisible = record.dirtyImage = false;
            updates.push_back(std::move(update));
        }
    }
    for (const PendingUpdate& update : updates) {
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
                     [number](bool on) { recordStateFromWidget(number, on ? 1 : 0); });
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
        recordStateFromWidget(number, 1);
        clearGroupExcept(number);
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
    auto* label = new QLabel(parent);
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
    auto* label = new QLabel(parent);
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
    auto* display = new ImageDisplay(number, qt::buildWindow(), parent);
    if (sunkenEdge != 0) {
        display->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        display->setLineWidth(2);
    } else {
        display->setFrameStyle(QFrame::NoFrame);
    }
    display->setIndent(0);
    display->setMargin(0);
    display->setAlignment(Qt::AlignLeft | Qt::AlignTop);
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
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    recordOf(number).image = image;
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
                     [number](int index) { recordStateFromWidget(number, index); });
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
    {
        ControlTable& controls = table();
        std::lock_guard lock(controls.mutex);
        recordOf(number).items.push_back(text);
    }
    const QSignalBlocker blocker(combo);
    const int selected = combo->currentIndex();
    combo->addItem(latin1(text));
    // The first entry of an empty list does not select itself: the field stays empty until
    // the program selects something.
    combo->setCurrentIndex(selected);
}

void controlTextSet(int number, const std::string& text) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::unique_lock lock(controls.mutex);
    ControlRecord& record = recordOf(number);
    if (!record.exists || record.kind == ControlKind::ComboBox) {
        return;
    }
    if (record.text == text) {
        return;
    }
    record.text = text;
    record.dirtyText = true;
    changed(controls, lock);
}

std::string controlTextGet(int number) {
    if (!validControl(number)) {
        return std::string();
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(number);
    if (!record.exists) {
        return std::string();
    }
    if (record.kind == ControlKind::ComboBox) {
        if (record.state < 0 || record.state >= static_cast<int>(record.items.size())) {
            return std::string();
        }
        return record.items[static_cast<std::size_t>(record.state)];
    }
    return record.text;
}

void controlStateSet(int number, Handle value) {
    if (!validControl(number)) {
        return;
    }
    // Looked up before taking our lock: the image registry has its own.
    std::shared_ptr<const Image> picture;
    {
        ControlTable& controls = table();
        std::lock_guard lock(controls.mutex);
        if (recordOf(number).kind == ControlKind::ImageDisplay) {
            picture = imageByHandle(value);
        }
    }
    ControlTable& controls = table();
    std::unique_lock lock(controls.mutex);
    ControlRecord& record = recordOf(number);
    if (!record.exists) {
        return;
    }
    switch (record.kind) {
    case ControlKind::ToggleButton:
    case ControlKind::OptionButton:
        record.state = value != 0 ? 1 : 0;
        record.dirtyState = true;
        break;
    case ControlKind::ComboBox: {
        const bool inRange = value >= 0 && value < static_cast<Handle>(record.items.size());
        record.state = inRange ? static_cast<int>(value) : -1;
        record.dirtyState = true;
        break;
    }
    case ControlKind::ImageDisplay:
        record.image = value;
        record.picture = std::move(picture);
        record.dirtyImage = true;
        break;
    default:
        return;
    }
    changed(controls, lock);
}

int controlStateGet(int number) {
    if (!validControl(number)) {
        return 0;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(number);
    return record.exists ? record.state : 0;
}

void controlHide(int number, int hide) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::unique_lock lock(controls.mutex);
    ControlRecord& record = recordOf(number);
    if (!record.exists) {
        return;
    }
    record.visible = hide == 0;
    record.dirtyVisible = true;
    changed(controls, lock);
}

ControlInfo controlInfo(int number) {
    ControlInfo info;
    if (!validControl(number)) {
        return info;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(number);
    if (!record.exists) {
        return info;
    }
    info.kind = record.kind;
    info.window = record.window;
    info.x = record.x;
    info.y = record.y;
    info.w = record.w;
    info.h = record.h;
    info.visible = record.visible;
    info.text = record.text;
    info.state = record.state;
    info.image = record.image;
    info.items = record.items;
    return info;
}

namespace access {

QWidget* controlWidget(int number) {
    return qt::controlWidgetOf(number);
}

} // namespace access

} // namespace veltrace::toolkit
