// veltrace-make-ico: writes the program's icon as a Windows icon file holding it at each size
// asked for, drawn by the same code as the window's and the Linux desktop's icons. The Windows
// build compiles it for the machine that builds (it runs there) and puts the file into
// veltrace.exe as icon resource 1, the icon Explorer, the Start menu and the window show.
#include "app/program_icon.h"
#include "make_icon/ico_file.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "Usage: veltrace-make-ico FILE.ico SIZE...\n");
        return 2;
    }
    std::vector<std::shared_ptr<veltrace::toolkit::Image>> drawn;
    std::vector<const veltrace::toolkit::Image*> pictures;
    for (int i = 2; i < argc; ++i) {
        char* end = nullptr;
        const long size = std::strtol(argv[i], &end, 10);
        if (end == argv[i] || *end != '\0' || size < 16 || size > 256) {
            std::fprintf(stderr, "veltrace-make-ico: '%s' is not a size from 16 to 256\n", argv[i]);
            return 2;
        }
        drawn.push_back(veltrace::app::drawProgramIcon(static_cast<int>(size)));
        if (!drawn.back()) {
            std::fprintf(stderr, "veltrace-make-ico: could not draw the %ld pixel icon\n", size);
            return 1;
        }
        pictures.push_back(drawn.back().get());
    }
    const std::vector<std::uint8_t> bytes = veltrace::makeicon::icoFile(pictures);
    std::FILE* file = std::fopen(argv[1], "wb");
    if (bytes.empty() || file == nullptr ||
        std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
        std::fprintf(stderr, "veltrace-make-ico: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
