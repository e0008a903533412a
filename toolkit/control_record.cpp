// The record of every numbered control and the setters and getters that work on it. No window
// system here: the backend that owns the widgets is told through ControlBackend when the record
// has changed.
#include "toolkit/control_record.h"

#include <array>
#include <mutex>

namespace veltrace::toolkit {

namespace {

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
    std::array<ControlRecord, detail::LastControl + 1> records;
    detail::ControlBackend backend;
    bool active = false;
    std::thread::id guiThread;
    // Set with any dirty mark, so the GUI thread's frequent look at the record costs nothing
    // when nothing changed.
    bool anyDirty = false;
    // How option groups form; only the GUI thread creates controls.
    ControlKind lastCreatedKind = ControlKind::None;
    int lastCreatedWindow = -1;
    int lastGroup = 0;
};

ControlTable& table() {
    static ControlTable instance;
    return instance;
}

ControlRecord& recordOf(ControlTable& controls, int number) {
    return controls.records[static_cast<std::size_t>(number)];
}

// Gets a change to the widgets: at once on the GUI thread, else by waking it. Called with the
// lock held. The wake-up happens under the lock: the record ends (recordEnd, under the same lock)
// before the backend lets go of what it wakes, so a worker can never wake something that is gone.
void changed(ControlTable& controls, std::unique_lock<std::mutex>& lock) {
    if (!controls.active) {
        return;
    }
    if (std::this_thread::get_id() != controls.guiThread) {
        if (controls.backend.wake != nullptr) {
            controls.backend.wake();
        }
        return;
    }
    void (*const applyNow)() = controls.backend.applyNow;
    lock.unlock();
    if (applyNow != nullptr) {
        applyNow();
    }
}

} // namespace

namespace detail {

void recordBegin(const ControlBackend& backend) {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    controls.records.fill(ControlRecord{});
    controls.backend = backend;
    controls.active = true;
    controls.guiThread = std::this_thread::get_id();
    controls.lastCreatedKind = ControlKind::None;
    controls.lastCreatedWindow = -1;
}

void recordEnd() {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    controls.records.fill(ControlRecord{});
    controls.backend = ControlBackend{};
    controls.active = false;
    controls.guiThread = std::thread::id();
}

void recordCreate(int number, ControlKind kind, int window, int x, int y, int w, int h,
                  const std::string& text) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    int group = 0;
    if (kind == ControlKind::OptionButton) {
        const bool joins = controls.lastCreatedKind == ControlKind::OptionButton &&
                           controls.lastCreatedWindow == window;
        group = joins ? controls.lastGroup : ++controls.lastGroup;
    }
    controls.lastCreatedKind = kind;
    controls.lastCreatedWindow = window;
    ControlRecord& record = recordOf(controls, number);
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

void recordForget(int number) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    recordOf(controls, number) = ControlRecord{};
}

std::vector<int> recordControlsOfWindow(int window) {
    std::vector<int> numbers;
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    for (int number = FirstControl; number <= LastControl; ++number) {
        const ControlRecord& record = recordOf(controls, number);
        if (record.exists && record.window == window) {
            numbers.push_back(number);
        }
    }
    return numbers;
}

void recordWindowClosed(int window) {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    if (controls.lastCreatedWindow == window) {
        controls.lastCreatedKind = ControlKind::None;
        controls.lastCreatedWindow = -1;
    }
}

void recordStateFromWidget(int number, int state) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    ControlRecord& record = recordOf(controls, number);
    if (record.exists) {
        record.state = state;
    }
}

void recordOptionSelected(int number) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    ControlRecord& self = recordOf(controls, number);
    if (!self.exists) {
        return;
    }
    self.state = 1;
    for (int other = FirstControl; other <= LastControl; ++other) {
        ControlRecord& record = recordOf(controls, other);
        if (other != number && record.exists && record.kind == ControlKind::OptionButton &&
            record.window == self.window && record.group == self.group && record.state != 0) {
            record.state = 0;
            record.dirtyState = true;
            controls.anyDirty = true;
        }
    }
}

void recordComboItemAdd(int number, const std::string& text) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    ControlRecord& record = recordOf(controls, number);
    if (record.exists && record.kind == ControlKind::ComboBox) {
        record.items.push_back(text);
    }
}

void recordPictureButtonImage(int number, Handle image) {
    if (!validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    ControlRecord& record = recordOf(controls, number);
    if (record.exists) {
        record.image = image;
    }
}

bool recordExists(int number) {
    if (!validControl(number)) {
        return false;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    return recordOf(controls, number).exists;
}

ControlKind recordKind(int number) {
    if (!validControl(number)) {
        return ControlKind::None;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(controls, number);
    return record.exists ? record.kind : ControlKind::None;
}

std::vector<PendingUpdate> takeDirtyUpdates() {
    std::vector<PendingUpdate> updates;
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    if (!controls.anyDirty) {
        return updates;
    }
    controls.anyDirty = false;
    for (int number = FirstControl; number <= LastControl; ++number) {
        ControlRecord& record = recordOf(controls, number);
        if (!record.exists ||
            !(record.dirtyText || record.dirtyState || record.dirtyVisible || record.dirtyImage)) {
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
        update.pictureHandle = record.image;
        record.dirtyText = record.dirtyState = record.dirtyVisible = record.dirtyImage = false;
        updates.push_back(std::move(update));
    }
    return updates;
}

namespace {
// Set and called on the GUI thread only.
PicturePaintedHook paintedHook;
} // namespace

void picturePainted(Handle picture) {
    if (paintedHook) {
        paintedHook(picture);
    }
}

bool onRecordThread() {
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    return controls.active && std::this_thread::get_id() == controls.guiThread;
}

} // namespace detail

void controlTextSet(int number, const std::string& text) {
    if (!detail::validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::unique_lock lock(controls.mutex);
    ControlRecord& record = recordOf(controls, number);
    if (!record.exists || record.kind == ControlKind::ComboBox || record.text == text) {
        return;
    }
    record.text = text;
    record.dirtyText = true;
    controls.anyDirty = true;
    changed(controls, lock);
}

std::string controlTextGet(int number) {
    if (!detail::validControl(number)) {
        return std::string();
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(controls, number);
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
    if (!detail::validControl(number)) {
        return;
    }
    // Looked up before taking our lock: the image registry has its own.
    std::shared_ptr<const Image> picture;
    if (detail::recordKind(number) == ControlKind::ImageDisplay) {
        picture = imageByHandle(value);
    }
    ControlTable& controls = table();
    std::unique_lock lock(controls.mutex);
    ControlRecord& record = recordOf(controls, number);
    if (!record.exists) {
        return;
    }
    switch (record.kind) {
    case ControlKind::ToggleButton:
    case ControlKind::OptionButton:
        record.state = value != 0 ? 1 : 0;
        record.dirtyState = true;
        controls.anyDirty = true;
        break;
    case ControlKind::ComboBox: {
        const bool inRange = value >= 0 && value < static_cast<Handle>(record.items.size());
        record.state = inRange ? static_cast<int>(value) : -1;
        record.dirtyState = true;
        controls.anyDirty = true;
        break;
    }
    case ControlKind::ImageDisplay:
        record.image = value;
        record.picture = std::move(picture);
        record.dirtyImage = true;
        controls.anyDirty = true;
        break;
    default:
        return;
    }
    changed(controls, lock);
}

int controlStateGet(int number) {
    if (!detail::validControl(number)) {
        return 0;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(controls, number);
    return record.exists ? record.state : 0;
}

void controlHide(int number, int hide) {
    if (!detail::validControl(number)) {
        return;
    }
    ControlTable& controls = table();
    std::unique_lock lock(controls.mutex);
    ControlRecord& record = recordOf(controls, number);
    if (!record.exists) {
        return;
    }
    record.visible = hide == 0;
    record.dirtyVisible = true;
    controls.anyDirty = true;
    changed(controls, lock);
}

void setPicturePaintedHook(PicturePaintedHook hook) {
    detail::paintedHook = std::move(hook);
}

ControlInfo controlInfo(int number) {
    ControlInfo info;
    if (!detail::validControl(number)) {
        return info;
    }
    ControlTable& controls = table();
    std::lock_guard lock(controls.mutex);
    const ControlRecord& record = recordOf(controls, number);
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

} // namespace veltrace::toolkit
