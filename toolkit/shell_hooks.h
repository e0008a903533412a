// Internal to the toolkit: the hooks tests put in place of the message box and of opening a
// document, shared by every backend.
#pragma once

#include "toolkit/toolkit.h"

namespace veltrace::toolkit::detail {

// The hooks in force (empty when none); safe from any thread.
MessageBoxHook messageBoxHook();
OpenDocumentHook openDocumentHook();

} // namespace veltrace::toolkit::detail
