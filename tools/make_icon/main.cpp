// veltrace-make-icon: writes the program's icon as PNG files laid out as an icon theme expects
// (DIR/<n>x<n>/apps/veltrace.png), so the desktop entry shows the very picture the window
// carries. It runs at build time; the icon exists only as drawing code.
#include "app/program_icon.h"
#include "toolkit/toolkit.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "Usage: veltrace-make-icon DIR SIZE...\n"
                             "Writes DIR/<SIZE>x<SIZE>/apps/veltrace.png for each size.\n");
        return 2;
    }
    const std::filesystem::path top = argv[1];
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || size < 16 || size > 1024) {
            std::fprintf(stderr, "veltrace-make-icon: '%s' is not a size from 16 to 1024\n",
                         argv[i]);
            return 2;
        }
        const auto icon = veltrace::app::drawProgramIcon(static_cast<int>(size));
        if (!icon) {
            std::fprintf(stderr, "veltrace-make-icon: could not draw the %ld pixel icon\n", size);
            return 1;
        }
        const std::string side = std::to_string(size);
        const std::filesystem::path folder = top / (side + "x" + side) / "apps";
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        const std::filesystem::path file = folder / "veltrace.png";
        if (error || veltrace::toolkit::imageSavePng(*icon, file.string()) == 0) {
            std::fprintf(stderr, "veltrace-make-icon: could not write %s\n", file.c_str());
            return 1;
        }
    }
    return 0;
}
