// veltrace-floor: the least a Qt Widgets program pays for showing a new screen picture about
// 15.5 times a second, as the scope's line delivers frames. Each tick clears a 508 x 512 RGB888
// picture, draws as many lines into it as one screen update of Veltrace draws (21 grid lines,
// 127 trace segments of a sine whose phase moves every tick, 4 cursor lines) with a plain line
// routine, and sets it on a QLabel. Nothing else: no serial port, no threads of its own, no
// other controls. scripts/measure-floor.sh runs it beside Veltrace and quotes Veltrace's CPU time
// as a ratio to this one's.
//
// The pace comes from a timer rather than from reading the simulator's stream: the floor is the
// cost of the pictures alone, so whatever Veltrace pays for listening to the line shows up in the
// ratio instead of being hidden in the floor. The ticks follow an absolute schedule, so the mean
// rate is the one asked for although a timer only takes whole milliseconds.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

constexpr int Width = 508;
constexpr int Height = 512;
constexpr double DefaultRate = 15.46; // frames per second of 138 bytes at 19200 baud 7N1

std::atomic<std::uint64_t> picturesShown{0};

// Built by hand with write(): it runs inside a signal handler.
extern "C" void onStopSignal(int) {
    char line[64];
    char digits[24];
    int count = 0;
    std::uint64_t value = picturesShown.load();
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char* out = line;
    for (const char* p = "veltrace-floor: "; *p != '\0'; ++p) {
        *out++ = *p;
    }
    while (count > 0) {
        *out++ = digits[--count];
    }
    for (const char* p = " pictures shown\n"; *p != '\0'; ++p) {
        *out++ = *p;
    }
    [[maybe_unused]] const ssize_t written =
        write(STDERR_FILENO, line, static_cast<std::size_t>(out - line));
    _exit(0);
}

// The picture's pixels, found once per picture: QImage::scanLine per pixel would check for a
// shared copy every time and make the floor dearer than it need be.
struct Canvas {
    uchar* bits;
    qsizetype stride;
    int width;
    int height;
};

void putPixel(const Canvas& canvas, int x, int y, std::uint32_t rgb) {
    if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) {
        return;
    }
    uchar* pixel = canvas.bits + y * canvas.stride + 3 * x;
    pixel[0] = static_cast<uchar>(rgb >> 16);
    pixel[1] = static_cast<uchar>(rgb >> 8);
    pixel[2] = static_cast<uchar>(rgb);
}

// Bresenham, both ends included, each pixel clipped on its own.
void drawLine(const Canvas& canvas, int x0, int y0, int x1, int y1, std::uint32_t rgb) {
    const int dx = std::abs(x1 - x0);
    const int dy = -std::abs(y1 - y0);
    const int sx = x0 < x1 ? 1 : -1;
    const int sy = y0 < y1 ? 1 : -1;
    int error = dx + dy;
    for (;;) {
        putPixel(canvas, x0, y0, rgb);
        if (x0 == x1 && y0 == y1) {
            return;
        }
        const int twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx) {
            error += dx;
            y0 += sy;
        }
    }
}

// The same lines, in the same places and colours, as Veltrace's one-channel screen with both
// cursor pairs shown.
void drawScreen(QImage& image, int tick) {
    // Black is all zero bytes, and a plain memset is the quickest clear there is.
    std::memset(image.bits(), 0, static_cast<std::size_t>(image.sizeInBytes()));
    const Canvas canvas{image.bits(), image.bytesPerLine(), image.width(), image.height()};
    for (int x : {40, 120, 200, 280, 360, 440}) {
        drawLine(canvas, x, 0, x, Height, 0x444444);
    }
    for (int y : {100, 204, 308, 412}) {
        drawLine(canvas, 0, y, 512, y, 0x444444);
    }
    for (int x : {80, 160, 240, 320, 400, 480}) {
        drawLine(canvas, x, 0, x, Height, 0x888888);
    }
    for (int y : {48, 152, 256, 360, 464}) {
        drawLine(canvas, 0, y, 512, y, 0x888888);
    }
    // Sample values 0..63 of a sine that moves on every tick, 8 rows per step as on the screen.
    std::array<int, 128> rows{};
    for (int i = 0; i < 128; ++i) {
        const double phase = 2.0 * 3.141592653589793 * (3.2 * i / 128.0 + 0.34 * tick);
        rows[static_cast<std::size_t>(i)] =
            Height - 8 * static_cast<int>(32.0 + 20.0 * std::sin(phase));
    }
    for (std::size_t i = 0; i < 127; ++i) {
        const int x = 4 * static_cast<int>(i);
        drawLine(canvas, x, rows[i], x + 4, rows[i + 1], 0xFFFF00);
    }
    drawLine(canvas, 100, 0, 100, Height, 0x33FFFF);
    drawLine(canvas, 300, 0, 300, Height, 0x33FFFF);
    drawLine(canvas, 0, 150, 512, 150, 0x33FFFF);
    drawLine(canvas, 0, 350, 512, 350, 0x33FFFF);
}

[[noreturn]] void usage(int code) {
    std::fputs("Usage: veltrace-floor [--rate HZ] [--seconds S]\n"
               "Shows a freshly drawn 508 x 512 picture HZ times a second (default 15.46; 0 shows\n"
               "one picture and then only runs the event loop) in a window titled veltrace-floor.\n"
               "Ends after S seconds when given, else when closed or on SIGTERM / SIGINT, which\n"
               "also print how many pictures were shown.\n",
               code == 0 ? stdout : stderr);
    std::exit(code);
}

double numberArgument(int& i, int argc, char** argv) {
    if (i + 1 >= argc) {
        usage(2);
    }
    char* end = nullptr;
    const double value = std::strtod(argv[++i], &end);
    if (end == argv[i] || *end != '\0' || value < 0) {
        usage(2);
    }
    return value;
}

} // namespace

int main(int argc, char** argv) {
    double rate = DefaultRate;
    double seconds = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rate") == 0) {
            rate = numberArgument(i, argc, argv);
        } else if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = numberArgument(i, argc, argv);
        } else if (std::strcmp(argv[i], "--help") == 0) {
            usage(0);
        } else {
            usage(2);
        }
    }
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGINT, onStopSignal);

    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("veltrace-floor"));
    window.setFixedSize(Width + 4, Height + 4);
    QLabel label(&window);
    label.setGeometry(2, 2, Width, Height);

    QImage image(Width, Height, QImage::Format_RGB888);
    int tick = 0;
    const auto showNext = [&] {
        drawScreen(image, tick++);
        label.setPixmap(QPixmap::fromImage(image));
        ++picturesShown;
    };
    showNext(); // the first picture is there for the window's first paint
    window.show();

    QElapsedTimer clock;
    clock.start();
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    const double periodMs = rate > 0 ? 1000.0 / rate : 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        showNext();
        const double due = tick * periodMs;
        timer.start(static_cast<int>(std::max(0.0, std::round(due - clock.elapsed()))));
    });
    if (rate > 0) {
        timer.start(static_cast<int>(std::round(periodMs)));
    }
    if (seconds > 0) {
        QTimer::singleShot(static_cast<int>(seconds * 1000), &application, &QApplication::quit);
    }
    const int code = application.exec();
    std::fprintf(stderr, "veltrace-floor: %llu pictures shown\n",
                 static_cast<unsigned long long>(picturesShown.load()));
    return code;
}
