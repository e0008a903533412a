// The INI settings file: reading with the profile-file rules, writing one key while keeping the
// rest of the file byte for byte, and never damaging the file when a write fails.
#include "state/settings.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using veltrace::state::readSetting;
using veltrace::state::writeSetting;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void spit(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

class SettingsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltrace-ini-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        file = (dir / "Veltrace.ini").string();
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }
    // Every entry of the directory; a failed or finished write must leave no temporary behind.
    std::size_t entriesInDir() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
    std::string file;
};

class SettingsFileRead : public SettingsFileTest {};

TEST_F(SettingsFileRead, MissingFileSectionOrKeyReadsEmpty) {
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
    spit(file, "[Other]\nCOMPort=COM1\n[COM]\nBaud=19200\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
    EXPECT_EQ(readSetting("Missing", "Baud", file), "");
    EXPECT_EQ(readSetting("COM", "Baud", file), "19200");
}

TEST_F(SettingsFileRead, NamesMatchWithoutRegardToCase) {
    spit(file, "[com]\ncomport=COM7\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM7");
    EXPECT_EQ(readSetting("Com", "COMPORT", file), "COM7");
}

TEST_F(SettingsFileRead, BlanksAroundNamesAndValuesAreTrimmed) {
    spit(file, "  [ COM ]  \n\tCOMPort \t=   COM 12 \t\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM 12");
}

TEST_F(SettingsFileRead, MatchingQuotesAreRemoved) {
    spit(file, "[COM]\nA=\"COM 5\" \nB='x y'\nC=\"mixed'\nD=\"\nE=\"\"\n");
    EXPECT_EQ(readSetting("COM", "A", file), "COM 5");
    EXPECT_EQ(readSetting("COM", "B", file), "x y");
    EXPECT_EQ(readSetting("COM", "C", file), "\"mixed'");
    EXPECT_EQ(readSetting("COM", "D", file), "\"");
    EXPECT_EQ(readSetting("COM", "E", file), "");
}

TEST_F(SettingsFileRead, CommentLinesAndLinesWithoutEqualsAreSkipped) {
    spit(file, "; [COM]\n[COM]\n;COMPort=COM9\nnot an entry\nCOMPort=COM2\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM2");
    spit(file, "[COM]\n; COMPort=COM9\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
}

TEST_F(SettingsFileRead, KeyOfAnotherSectionIsNotTaken) {
    spit(file, "[COM]\nOther=1\n[Serial]\nCOMPort=COM4\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
    EXPECT_EQ(readSetting("Serial", "COMPort", file), "COM4");
}

TEST_F(SettingsFileRead, CrLfLineEndingsAreTolerated) {
    spit(file, "[COM]\r\nCOMPort=COM3\r\nNext=1\r\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM3");
    EXPECT_EQ(readSetting("COM", "Next", file), "1");
}

TEST_F(SettingsFileRead, LongValuesReadAsTheirFirst254Characters) {
    std::string value;
    for (int i = 0; i < 300; ++i) {
        value += static_cast<char>('a' + i % 26);
    }
    spit(file, "[COM]\nCOMPort=" + value + "\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), value.substr(0, 254));
    spit(file, "[COM]\nCOMPort=" + value.substr(0, 254) + "\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), value.substr(0, 254));
}

class SettingsFileWrite : public SettingsFileTest {};

TEST_F(SettingsFileWrite, MissingFileIsCreatedWithSectionAndKey) {
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM3", file), 1);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM3\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM3");
    EXPECT_EQ(entriesInDir(), 1u);
}

TEST_F(SettingsFileWrite, ValuesReadBackUnchanged) {
    for (const std::string value :
         {"COM3", "", " padded ", "\"quoted\"", "'single'", "a=b;c", "\"", "\xB5 Latin-1"}) {
        ASSERT_EQ(writeSetting("COM", "COMPort", value, file), 1) << value;
        EXPECT_EQ(readSetting("COM", "COMPort", file), value);
    }
    // Repeated writes replaced the one line instead of adding lines.
    EXPECT_EQ(slurp(file).find("COMPort"), slurp(file).rfind("COMPort"));
}

TEST_F(SettingsFileWrite, OtherContentIsKeptByteForByte) {
    const std::string before = "; Veltrace settings, edited by hand\n"
                               "[Window]\n"
                               "  Left = 10 \n"
                               "COMPort=not this one\n"
                               "\n"
                               "[com]\n"
                               "\t; the port\n"
                               "  comport  =  COM1  \n"
                               "Speed=\"fast\"\n"
                               "[Last]\n"
                               "x=1";
    spit(file, before);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM5", file), 1);
    std::string expected = before;
    expected.replace(expected.find("  comport  =  COM1  "), 20, "COMPort=COM5");
    EXPECT_EQ(slurp(file), expected);
}

TEST_F(SettingsFileWrite, MissingKeyIsAddedAfterTheSectionsLastEntry) {
    spit(file, "[COM]\nBaud=19200\n\n[Other]\nk=v\n");
    EXPECT_EQ(writeSetting("com", "COMPort", "COM2", file), 1);
    EXPECT_EQ(slurp(file), "[COM]\nBaud=19200\nCOMPort=COM2\n\n[Other]\nk=v\n");
}

TEST_F(SettingsFileWrite, MissingSectionIsAppended) {
    spit(file, "[Other]\nk=v"); // no line ending at the end
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM4", file), 1);
    EXPECT_EQ(slurp(file), "[Other]\nk=v\n[COM]\nCOMPort=COM4\n");
    EXPECT_EQ(readSetting("Other", "k", file), "v");
}

TEST_F(SettingsFileWrite, CrLfFilesKeepTheirLineEndings) {
    spit(file, "[COM]\r\nCOMPort=COM1\r\n[Other]\r\nk=v\r\n");
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM9", file), 1);
    EXPECT_EQ(writeSetting("New", "Key", "1", file), 1);
    EXPECT_EQ(slurp(file), "[COM]\r\nCOMPort=COM9\r\n[Other]\r\nk=v\r\n[New]\r\nKey=1\r\n");
}

TEST_F(SettingsFileWrite, SymbolicLinkIsKeptAndItsTargetUpdated) {
    const fs::path target = dir / "real.ini";
    spit(target, "[COM]\nCOMPort=COM1\n");
    fs::create_symlink(target, file);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM6", file), 1);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(slurp(target), "[COM]\nCOMPort=COM6\n");
}

TEST_F(SettingsFileWrite, FilePermissionsAreKept) {
    spit(file, "[COM]\nCOMPort=COM1\n");
    // Not 0600, which is what a fresh temporary file would get.
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(file, mode, fs::perm_options::replace);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM2", file), 1);
    EXPECT_EQ(fs::status(file).permissions(), mode);
}

TEST_F(SettingsFileWrite, TextsThatCannotStandOnOneLineAreRefused) {
    spit(file, "[COM]\nCOMPort=COM1\n");
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM2\n[Evil]", file), 0);
    EXPECT_EQ(writeSetting("COM", "", "COM2", file), 0);
    EXPECT_EQ(writeSetting("COM", "a=b", "COM2", file), 0);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM1\n");
}

// ---- A file that is more than our own file with one name ----

class SettingsFileIdentity : public SettingsFileTest {
  protected:
    static struct stat statOf(const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info;
    }
};

TEST_F(SettingsFileIdentity, EveryHardLinkSeesTheNewContentOfTheSameFile) {
    const fs::path other = dir / "shared.ini";
    spit(file, "[COM]\nCOMPort=COM1\n; ours\n");
    fs::create_hard_link(file, other);
    const struct stat before = statOf(file);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM7", file), 1);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM7\n; ours\n");
    EXPECT_EQ(slurp(other), "[COM]\nCOMPort=COM7\n; ours\n");
    const struct stat after = statOf(file);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_nlink, 2u);
    EXPECT_EQ(entriesInDir(), 2u);
}

TEST_F(SettingsFileIdentity, ALinkToAHardLinkedFileReachesAllItsNames) {
    const fs::path real = dir / "real.ini";
    const fs::path second = dir / "second.ini";
    spit(real, "[COM]\nCOMPort=COM1\n");
    fs::create_hard_link(real, second);
    fs::create_symlink("real.ini", file); // relative, as users make them
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM2", file), 1);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(slurp(second), "[COM]\nCOMPort=COM2\n");
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM2");
}

TEST_F(SettingsFileIdentity, ALinkToAFileNotYetThereCreatesIt) {
    fs::create_directory(dir / "conf");
    fs::create_symlink("conf/veltrace.ini", file);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM4", file), 1);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(slurp(dir / "conf" / "veltrace.ini"), "[COM]\nCOMPort=COM4\n");
}

TEST_F(SettingsFileIdentity, ALinkLoopIsRefused) {
    fs::create_symlink("loop.ini", file);
    fs::create_symlink("Veltrace.ini", dir / "loop.ini");
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM4", file), 0);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(entriesInDir(), 2u);
}

// Someone else's file (here: made by root for another user): it keeps its owner, group and
// permissions.
TEST_F(SettingsFileIdentity, SomeoneElsesFileKeepsItsOwnerGroupAndMode) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root can make a file that belongs to someone else";
    }
    spit(file, "[COM]\nCOMPort=COM1\n");
    ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const struct stat before = statOf(file);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM5", file), 1);
    const struct stat after = statOf(file);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM5\n");
    EXPECT_EQ(after.st_uid, 4321u);
    EXPECT_EQ(after.st_gid, 4322u);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

// Our own file in a group of its own keeps that group through the replace.
TEST_F(SettingsFileIdentity, OwnFileKeepsItsGroup) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file another group needs membership of that group";
    }
    spit(file, "[COM]\nCOMPort=COM1\n");
    ASSERT_EQ(::chown(file.c_str(), 0, 4323), 0);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM5", file), 1);
    EXPECT_EQ(statOf(file).st_gid, 4323u);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM5\n");
}

// A file we may not write that is not ours: the write is refused and nothing changes.
TEST_F(SettingsFileIdentity, SomeoneElsesFileWeMayNotWriteIsLeftAlone) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root may write every file";
    }
    spit(file, "[COM]\nCOMPort=COM1\n");
    const fs::path other = dir / "other.ini";
    fs::create_hard_link(file, other);
    ASSERT_EQ(::chmod(file.c_str(), 0440), 0); // stands for another user's 0640 file
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM5", file), 0);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM1\n");
    EXPECT_EQ(entriesInDir(), 2u);
}

// A rewrite in place that fails half-way puts the old content back.
TEST_F(SettingsFileIdentity, InPlaceWriteFailingHalfWayLeavesTheOldContent) {
    const std::string before = "[COM]\nCOMPort=COM1\n; keep me\n";
    spit(file, before);
    fs::create_hard_link(file, dir / "other.ini");
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = writeSetting("COM", "COMPort", std::string(10000, 'x'), file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(slurp(file), before);
    EXPECT_EQ(slurp(dir / "other.ini"), before);
    EXPECT_EQ(entriesInDir(), 2u);
}

class SettingsFileFailures : public SettingsFileTest {};

TEST_F(SettingsFileFailures, PathThatIsADirectory) {
    fs::create_directory(file);
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM3", file), 0);
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(entriesInDir(), 1u);
}

TEST_F(SettingsFileFailures, UnwritableDirectoryLeavesTheOldFile) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only directories";
    }
    spit(file, "[COM]\nCOMPort=COM1\n");
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM3", file), 0);
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_EQ(slurp(file), "[COM]\nCOMPort=COM1\n");
    EXPECT_EQ(entriesInDir(), 1u);
}

// A write that fails half-way (here: the file size limit is hit, as on a full disk) must leave
// the old file whole and no temporary file behind. Works for root too.
TEST_F(SettingsFileFailures, WriteFailingHalfWayLeavesTheOldFile) {
    const std::string before = "[COM]\nCOMPort=COM1\n; keep me\n";
    spit(file, before);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = writeSetting("COM", "COMPort", std::string(10000, 'x'), file);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(slurp(file), before);
    EXPECT_EQ(entriesInDir(), 1u);
}

TEST_F(SettingsFileFailures, BinaryGarbageDoesNotCrashAndIsKept) {
    std::string garbage;
    std::uint32_t state = 12345;
    for (int i = 0; i < 5000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage += static_cast<char>(state >> 24);
    }
    garbage += std::string("\0[\r=]\n=\n[\n", 11);
    spit(file, garbage);
    (void)readSetting("COM", "COMPort", file); // whatever it finds, it must not crash
    ASSERT_EQ(writeSetting("COM", "COMPort", "COM8", file), 1);
    const std::string after = slurp(file);
    ASSERT_GE(after.size(), garbage.size());
    EXPECT_EQ(after.substr(0, garbage.size()), garbage);
    EXPECT_EQ(readSetting("COM", "COMPort", file), "COM8");
}

TEST_F(SettingsFileFailures, AbsurdlyLargeFileIsRefusedAndKept) {
    std::string big = "[COM]\nCOMPort=COM1\n";
    big += std::string(1 << 20, ';');
    spit(file, big);
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM2", file), 0);
    EXPECT_EQ(fs::file_size(file), big.size());
}

TEST_F(SettingsFileFailures, SpecialFilesAreRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(readSetting("COM", "COMPort", file), "");
    EXPECT_EQ(writeSetting("COM", "COMPort", "COM2", file), 0);
    struct stat info {};
    ASSERT_EQ(::lstat(file.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

} // namespace
