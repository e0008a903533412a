// veltrace-winwait: how long a program takes from its start to its window on the screen.
//
//   veltrace-winwait [--title T] [--timeout S] [--keep S] -- PROGRAM [ARGS...]
//
// Starts PROGRAM itself (so the clock starts at the fork, and no map can happen before we
// listen), then follows the X server: the moment a top-level window titled T is mapped, and the
// moment that window first shows anything but black, which is the program's first paint (the
// display must have a black root window, as Xvfb's -br gives; an unpainted window shows it).
// Prints one line "mapped_ms painted_ms", then ends PROGRAM with SIGTERM after --keep seconds
// (default 0) and waits for it. Exit status 1 when the window did not show within --timeout
// seconds (default 20).
//
// Plain xcb and a 1 ms poll of one row of the window: nothing here shares the toolkit the
// measured program uses, and the poll costs a few microseconds of the server's time per step.
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

[[noreturn]] void usage() {
    std::fputs("Usage: veltrace-winwait [--title T] [--timeout S] [--keep S] -- PROGRAM [ARGS...]\n"
               "Prints the milliseconds from starting PROGRAM to its window titled T being\n"
               "mapped and to its first paint: \"mapped_ms painted_ms\".\n",
               stderr);
    std::exit(2);
}

std::string windowTitle(xcb_connection_t* connection, xcb_window_t window) {
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    std::string title;
    if (reply != nullptr) {
        title.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                     static_cast<std::size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
    }
    return title;
}

// True once the middle row of the window holds a pixel that is not black.
bool painted(xcb_connection_t* connection, xcb_window_t window) {
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), nullptr);
    if (geometry == nullptr) {
        return false;
    }
    const std::uint16_t width = geometry->width;
    const std::int16_t row = static_cast<std::int16_t>(geometry->height / 2);
    std::free(geometry);
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, row, width, 1, ~0u),
        nullptr);
    if (image == nullptr) {
        return false;
    }
    const std::uint8_t* data = xcb_get_image_data(image);
    const int length = xcb_get_image_data_length(image);
    bool any = false;
    for (int i = 0; i < length && !any; ++i) {
        any = data[i] != 0;
    }
    std::free(image);
    return any;
}

} // namespace

int main(int argc, char** argv) {
    std::string title = "Veltrace V1.11";
    double timeoutSeconds = 20;
    double keepSeconds = 0;
    int first = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            first = i + 1;
            break;
        }
        if (i + 1 >= argc) {
            usage();
        }
        if (option == "--title") {
            title = argv[++i];
        } else if (option == "--timeout") {
            timeoutSeconds = std::atof(argv[++i]);
        } else if (option == "--keep") {
            keepSeconds = std::atof(argv[++i]);
        } else {
            usage();
        }
    }
    if (first < 0 || first >= argc) {
        usage();
    }

    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection) != 0) {
        std::fputs("veltrace-winwait: cannot reach the X display\n", stderr);
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_request_check(connection, xcb_change_window_attributes_checked(connection, root,
                                                                       XCB_CW_EVENT_MASK, &mask));

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("veltrace-winwait: fork");
        return 2;
    }
    if (child == 0) {
        // Our standard output carries only the result line.
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execvp(argv[first], argv + first);
        std::perror("veltrace-winwait: exec");
        _exit(127);
    }

    xcb_window_t window = XCB_NONE;
    double mappedMs = -1;
    double paintedMs = -1;
    while (paintedMs < 0 && msSince(start) < timeoutSeconds * 1000) {
        if (window == XCB_NONE) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                if ((event->response_type & 0x7F) == XCB_MAP_NOTIFY && window == XCB_NONE) {
                    const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                    const double at = msSince(start);
                    if (windowTitle(connection, map->window) == title) {
                        window = map->window;
                        mappedMs = at;
                    }
                }
                std::free(event);
            }
        } else if (painted(connection, window)) {
            paintedMs = msSince(start);
            break;
        }
        if (xcb_connection_has_error(connection) != 0) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (paintedMs >= 0) {
        std::printf("%.1f %.1f\n", mappedMs, paintedMs);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::duration<double>(keepSeconds));
    } else {
        std::fprintf(stderr, "veltrace-winwait: no window titled '%s' %s within %g s\n",
                     title.c_str(), window == XCB_NONE ? "was mapped" : "was painted",
                     timeoutSeconds);
    }
    kill(child, SIGTERM);
    int status = 0;
    waitpid(child, &status, 0);
    xcb_disconnect(connection);
    return paintedMs >= 0 ? 0 : 1;
}
