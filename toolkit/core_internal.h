// Internal to the toolkit: services of the non-window half that the window half (and tests)
// call directly.
#pragma once

namespace veltrace::toolkit::detail {

// Windows are numbered 0 .. WindowCount - 1: the main window, one dialog or About window, and the
// Measurements window.
inline constexpr int WindowCount = 3;

// Forgets every thread started by threadStart without stopping it (each is detached).
void threadsForgetAll();
// Frees every numbered image (displays that still hold one keep their shared copy).
void imagesFreeAll();

// Test hook: makes the next imageSave fail after its temporary file was created, so tests can
// check that a failed capture removes the temporary file and leaves an earlier file alone.
void failNextPngWrite();

} // namespace veltrace::toolkit::detail
