// The built veltrace.exe as Windows shows it, read back from the file with the system's own
// resource functions: icon 1 is the program's icon, drawn by its own code, at every size from 16
// to 256 pixels, and the version resource names the program, its version and its licence. This
// test program carries the same resources (app/veltrace.rc), so it also shows that a window takes
// its icon from them.
#include "app/program_icon.h"
#include "toolkit/toolkit.h"
#include "toolkit/win32_access.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace veltrace;

// A path of the build machine as Wine sees it (drive Z: is the root).
std::wstring windowsPath(const char* unixPath) {
    std::wstring path = L"Z:";
    for (const char* c = unixPath; *c != '\0'; ++c) {
        path.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
    }
    return path;
}

std::wstring programPath() {
    return windowsPath(VELTRACE_PROGRAM_FILE);
}

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text != 0; ++text) {
        out.push_back(static_cast<char>(*text));
    }
    return out;
}

class ProgramFile : public testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryExW(programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr)
            << "cannot open " << VELTRACE_PROGRAM_FILE << ": error " << GetLastError();
    }
    void TearDown() override {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    std::vector<std::uint8_t> resource(int number, int type) {
        const HRSRC found =
            FindResourceW(module_, MAKEINTRESOURCEW(number), MAKEINTRESOURCEW(type));
        if (found == nullptr) {
            return {};
        }
        const HGLOBAL loaded = LoadResource(module_, found);
        const auto* bytes = static_cast<const std::uint8_t*>(LockResource(loaded));
        return bytes != nullptr
                   ? std::vector<std::uint8_t>(bytes, bytes + SizeofResource(module_, found))
                   : std::vector<std::uint8_t>{};
    }

    HMODULE module_ = nullptr;
};

std::uint32_t read16(const std::uint8_t* at) {
    return at[0] | (at[1] << 8);
}

std::uint32_t read32(const std::uint8_t* at) {
    return read16(at) | (read16(at + 2) << 16);
}

constexpr int IconType = 3;       // RT_ICON
constexpr int GroupIconType = 14; // RT_GROUP_ICON

TEST_F(ProgramFile, IconOneIsTheProgramIconDrawnAtEverySizeFrom16To256) {
    // The group: a header of three words, then one 14-byte entry per picture, which names the
    // picture's own icon resource.
    const std::vector<std::uint8_t> group = resource(1, GroupIconType);
    ASSERT_GE(group.size(), 6u) << "no icon 1";
    EXPECT_EQ(read16(&group[2]), 1u); // an icon, not a cursor
    const std::uint32_t count = read16(&group[4]);
    ASSERT_EQ(group.size(), 6 + 14 * count);
    std::set<int> sizes;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = &group[6 + 14 * i];
        const int size = entry[0] == 0 ? 256 : entry[0];
        EXPECT_EQ(entry[1], entry[0]) << "square";
        EXPECT_EQ(read16(entry + 6), 32u) << size << ": bits per pixel";
        sizes.insert(size);
        const std::vector<std::uint8_t> picture =
            resource(static_cast<int>(read16(entry + 12)), IconType);
        ASSERT_EQ(picture.size(), read32(entry + 8)) << size;
        ASSERT_GE(picture.size(), 40u) << size;
        EXPECT_EQ(static_cast<int>(read32(&picture[4])), size);
        EXPECT_EQ(static_cast<int>(read32(&picture[8])), 2 * size); // colour and mask
        EXPECT_EQ(read16(&picture[14]), 32u);
        const std::size_t maskRow = (size + 31) / 32 * 4;
        ASSERT_EQ(picture.size(), 40 + 4u * size * size + maskRow * size) << size;

        // Pixel for pixel the drawing the window and the Linux desktop show, fully opaque.
        const auto drawn = app::drawProgramIcon(size);
        ASSERT_TRUE(drawn);
        int differing = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const std::uint8_t* bgra = &picture[40 + 4 * ((size - 1 - y) * size + x)];
                const std::uint8_t* rgb = &drawn->rgb[3 * (y * size + x)];
                if (bgra[2] != rgb[0] || bgra[1] != rgb[1] || bgra[0] != rgb[2] ||
                    bgra[3] != 0xFF) {
                    ++differing;
                }
            }
        }
        EXPECT_EQ(differing, 0) << "pixels unlike the drawing at " << size;
        const std::size_t maskStart = 40 + 4u * size * size;
        for (std::size_t i = maskStart; i < picture.size(); ++i) {
            ASSERT_EQ(picture[i], 0) << size << ": a transparent pixel in the mask";
        }

        // And Windows makes an icon of it.
        std::vector<std::uint8_t> copy = picture;
        const HICON icon = CreateIconFromResourceEx(copy.data(), static_cast<DWORD>(copy.size()),
                                                    TRUE, 0x00030000, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST(ProgramFileVersion, NamesTheProgramItsVersionAndItsLicence) {
    const std::wstring path = programPath();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<std::uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD major = VELTRACE_VERSION_MAJOR;
    const DWORD minor = VELTRACE_VERSION_MINOR;
    EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    EXPECT_EQ(fixed->dwProductVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    // The texts, in the language the file lists first.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    wchar_t block[64];
    swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
    const auto text = [&](const wchar_t* name) -> std::string {
        wchar_t* value = nullptr;
        UINT chars = 0;
        const std::wstring key = std::wstring(block) + name;
        if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars) ||
            value == nullptr) {
            return "(none)";
        }
        return narrow(value);
    };
    const std::string version = std::to_string(VELTRACE_VERSION_MAJOR) + "." +
                                std::to_string(VELTRACE_VERSION_MINOR) + ".0.0";
    EXPECT_EQ(text(L"FileVersion"), version);
    EXPECT_EQ(text(L"ProductVersion"), version);
    EXPECT_EQ(text(L"ProductName"), "Veltrace");
    EXPECT_EQ(text(L"OriginalFilename"), "veltrace.exe");
    EXPECT_NE(text(L"FileDescription").find("oscilloscope"), std::string::npos)
        << text(L"FileDescription");
    EXPECT_NE(text(L"CompanyName"), "(none)");
    EXPECT_NE(text(L"CompanyName"), "");

    // The copyright is the licence's own line.
    std::ifstream licence(VELTRACE_LICENSE_FILE);
    std::string line;
    std::string copyright;
    while (std::getline(licence, line)) {
        if (line.rfind("Copyright", 0) == 0) {
            copyright = line;
            break;
        }
    }
    ASSERT_FALSE(copyright.empty()) << "no copyright line in " << VELTRACE_LICENSE_FILE;
    EXPECT_EQ(text(L"LegalCopyright"), copyright);
}

// The pixels of an icon's colour bitmap, top row first, as red, green, blue.
std::vector<std::uint8_t> iconPixels(HICON icon, int& size) {
    ICONINFO info{};
    if (icon == nullptr || !GetIconInfo(icon, &info)) {
        return {};
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    size = bitmap.bmWidth;
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = bitmap.bmWidth;
    header.bmiHeader.biHeight = -bitmap.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(bitmap.bmWidth) * bitmap.bmHeight * 4);
    const HDC screen = GetDC(nullptr);
    const int rows =
        GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, bgra.data(), &header, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    if (rows != bitmap.bmHeight) {
        return {};
    }
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
        rgb.insert(rgb.end(), {bgra[i + 2], bgra[i + 1], bgra[i]});
    }
    return rgb;
}

TEST(ProgramWindow, ShowsIconOneAtTheSizesTheSystemAsksFor) {
    namespace tk = veltrace::toolkit;
    ASSERT_NE(tk::toolkitInit(), 0);
    ASSERT_NE(tk::windowOpen(0, 20, 20, 200, 120, "Icon", tk::WindowFixedCaption), 0);
    // What the program does with its window; a file with icon 1 keeps that one.
    tk::windowIconSet(0, tk::imageStore(1, app::drawProgramIcon(16)));
    const HWND window = tk::access::windowHwnd(0);
    ASSERT_NE(window, nullptr);
    const struct {
        WPARAM kind;
        int classField;
        int sizeMetric;
    } icons[] = {{ICON_BIG, GCLP_HICON, SM_CXICON}, {ICON_SMALL, GCLP_HICONSM, SM_CXSMICON}};
    for (const auto& wanted : icons) {
        // The icon a window shows: its own if one was given, else its class's.
        auto icon = reinterpret_cast<HICON>(SendMessageW(window, WM_GETICON, wanted.kind, 0));
        if (icon == nullptr) {
            icon = reinterpret_cast<HICON>(GetClassLongPtrW(window, wanted.classField));
        }
        int size = 0;
        const std::vector<std::uint8_t> shown = iconPixels(icon, size);
        ASSERT_FALSE(shown.empty()) << "no icon of kind " << wanted.kind;
        EXPECT_EQ(size, GetSystemMetrics(wanted.sizeMetric));
        const auto drawn = app::drawProgramIcon(size);
        ASSERT_TRUE(drawn);
        EXPECT_TRUE(shown == drawn->rgb) << "the " << size << "-pixel icon is not the drawing";
    }
    tk::windowClose(0);
    tk::toolkitEnd();
}

} // namespace
