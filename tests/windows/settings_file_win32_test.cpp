// The settings file and capture files on Windows, where std::rename cannot replace a file and
// narrow names would be read in the ANSI code page: a second write replaces the first, keeps the
// other lines, leaves no temporary file, and a name with Latin-1 letters is the same file for
// the reader and the writer.
#include "scratch_dir.h"
#include "state/settings.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace veltrace;
namespace fs = std::filesystem;

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class WindowsFiles : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = testing_support::makeScratchDirectory("veltrace-winfiles-");
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir_ / "Veltrace.ini", fs::perms::owner_all, ignored);
        fs::remove_all(dir_, ignored);
    }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
    fs::path dir_;
};

TEST_F(WindowsFiles, SettingsWriteReplacesTheFileAndKeepsItsOtherLines) {
    const std::string file = (dir_ / "Veltrace.ini").string();
    std::ofstream(file, std::ios::binary) << "; mine\r\n[COM]\r\nCOMPort=COM1\r\nOther=1\r\n";
    ASSERT_EQ(state::writeSetting("COM", "COMPort", "COM3", file), 1);
    ASSERT_EQ(state::writeSetting("COM", "COMPort", "COM4", file), 1);
    EXPECT_EQ(readAll(file), "; mine\r\n[COM]\r\nCOMPort=COM4\r\nOther=1\r\n");
    EXPECT_EQ(state::readSetting("com", "comport", file), "COM4");
    EXPECT_EQ(entries(), std::vector<std::string>{"Veltrace.ini"});
}

TEST_F(WindowsFiles, AReadOnlySettingsFileIsLeftAsItWas) {
    const fs::path file = dir_ / "Veltrace.ini";
    std::ofstream(file, std::ios::binary) << "[COM]\r\nCOMPort=COM1\r\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(state::writeSetting("COM", "COMPort", "COM2", file.string()), 0);
    EXPECT_EQ(readAll(file), "[COM]\r\nCOMPort=COM1\r\n");
    EXPECT_EQ(entries(), std::vector<std::string>{"Veltrace.ini"});
}

TEST_F(WindowsFiles, Latin1NamesReachTheSameFile) {
    // "Mess\xE9" is Latin-1 for "Messé": the wide calls must see U+00E9, whatever the ANSI code
    // page of the machine.
    // Joined as bytes: path's own narrow strings are UTF-8 here, not Latin-1.
    const std::string file = dir_.string() + "\\Mess\xE9.ini";
    ASSERT_EQ(state::writeSetting("COM", "COMPort", "COM5", file), 1);
    EXPECT_EQ(state::readSetting("COM", "COMPort", file), "COM5");
    EXPECT_TRUE(fs::exists(dir_ / fs::path(L"Mess\u00e9.ini")));
}

TEST_F(WindowsFiles, ACaptureReplacesAnEarlierOneAndLeavesNoTemporaryFile) {
    const auto image = toolkit::imageBlank(4, 3);
    ASSERT_TRUE(image);
    const std::string file = (dir_ / "shot.PNG").string();
    std::ofstream(file, std::ios::binary) << "earlier";
    ASSERT_EQ(toolkit::imageSavePng(*image, file), 1);
    EXPECT_EQ(readAll(file).substr(1, 3), "PNG");
    ASSERT_EQ(toolkit::imageSavePng(*image, file), 1);
    EXPECT_EQ(entries(), std::vector<std::string>{"shot.PNG"});
}

} // namespace
