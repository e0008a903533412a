// The About window: name and version, purpose, author, a pointer to readme.txt and the picture
// button that opens the donation page (the click itself is handled by the event loop).
#include "app/app.h"
#include "app/controls.h"
#include "app/donate_picture.h"
#include "toolkit/toolkit.h"

#include <iterator>
#include <string>

#ifndef VELTRACE_DONATION_URL
#define VELTRACE_DONATION_URL "https://example.org/donate-to-veltrace"
#endif

namespace veltrace::app {

namespace {

// The window's text, line by line; the label receives them joined by single carriage returns, so
// each empty entry shows as an empty line.
constexpr const char* aboutLines[] = {
    "Veltrace V1.11",
    "",
    "A visualization software for Kalnor and Merivand",
    "Written by Okrinsel",
    "",
    "",
    "",
    "",
    "",
    "For a detailed description of Veltrace's functions have a look at the supplied readme.txt ",
    "",
    "",
    "",
    "If you like Veltrace and want to support further development, feel free to make a donation. "
    "Thank you!",
};

std::string aboutText() {
    std::string text;
    for (std::size_t i = 0; i < std::size(aboutLines); ++i) {
        if (i > 0) {
            text += '\r';
        }
        text += aboutLines[i];
    }
    return text;
}

} // namespace

const char* donationAddress() {
    return VELTRACE_DONATION_URL;
}

void openAboutWindow() {
    // Window 1 in use (an earlier About window) is closed by the toolkit before it opens anew,
    // so there is never more than one, and it is centred again each time.
    if (toolkit::windowOpen(AboutWindow, 0, 0, 300, 300, "About Veltrace V1.11",
                            toolkit::WindowFixedCaption | toolkit::WindowCentred) == 0) {
        return;
    }
    toolkit::labelCreate(TextAbout, 10, 20, 280, 220, aboutText(), 1);
    // Decoded afresh each time: the number is reused, so the picture of an earlier About window
    // is released here.
    toolkit::imageFromMemory(BitmapDonate, donatePicture.data(), donatePicture.size());
    toolkit::pictureButtonCreate(ButtonDonate, 108, 250, 82, 34,
                                 toolkit::imageHandle(BitmapDonate));
}

} // namespace veltrace::app
