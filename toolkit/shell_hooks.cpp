// The replaceable message box and document opener: tests stay non-modal and never start a
// browser, whatever the backend.
#include "toolkit/shell_hooks.h"

#include <mutex>

namespace veltrace::toolkit {

namespace {

struct Hooks {
    std::mutex mutex;
    MessageBoxHook messageBox;
    OpenDocumentHook openDocument;
};

Hooks& hooks() {
    static Hooks instance;
    return instance;
}

} // namespace

namespace detail {

MessageBoxHook messageBoxHook() {
    Hooks& all = hooks();
    std::lock_guard lock(all.mutex);
    return all.messageBox;
}

OpenDocumentHook openDocumentHook() {
    Hooks& all = hooks();
    std::lock_guard lock(all.mutex);
    return all.openDocument;
}

} // namespace detail

void setMessageBoxHook(MessageBoxHook hook) {
    Hooks& all = hooks();
    std::lock_guard lock(all.mutex);
    all.messageBox = std::move(hook);
}

void setOpenDocumentHook(OpenDocumentHook hook) {
    Hooks& all = hooks();
    std::lock_guard lock(all.mutex);
    all.openDocument = std::move(hook);
}

} // namespace veltrace::toolkit
