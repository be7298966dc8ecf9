// The file operations against a real folder whose name code page 936 cannot
// spell, through program paths built as the program builds them.
#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/run_directory.h"
#include "text/codepage.h"
#include "text/text.h"

namespace updater {
namespace {

namespace fs = std::filesystem;

std::string Os(const char8_t* utf8) { return reinterpret_cast<const char*>(utf8); }

// A fresh folder "…/muñoz" made the run directory; removed with all it holds.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/updater-files-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    top_ = pattern;
    folder_ = top_ + Os(u8"/muñoz");
    ASSERT_EQ(mkdir(folder_.c_str(), 0755), 0);
    SetRunDirectory(folder_);
  }
  void TearDown() override {
    CloseAllFiles();
    SetRunDirectory("");
    std::error_code ignored;
    fs::remove_all(top_, ignored);
  }

  // A program path: the run directory's text followed by a literal.
  static std::string ProgramPath(std::string_view suffix) { return JoinText(RunDirectory(), suffix); }
  // The OS name of a file in the folder.
  std::string OsName(const char8_t* leaf) const { return folder_ + "/" + Os(leaf); }

  static void WriteOsFile(const std::string& osPath, std::string_view content, mode_t mode = 0644) {
    std::ofstream(osPath, std::ios::binary | std::ios::trunc) << content;
    chmod(osPath.c_str(), mode);
  }
  static std::string ReadOsFile(const std::string& osPath) {
    std::ifstream in(osPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static bool Exists(const std::string& osPath) {
    struct stat info {};
    return lstat(osPath.c_str(), &info) == 0;
  }

  std::string top_;
  std::string folder_;
};

TEST_F(FilesTest, WritesThroughTheMappedPathAndReadsBack) {
  const std::string download = ProgramPath("\\Tavrix更新.tmp");
  WriteOsFile(OsName(u8"Tavrix更新.tmp"), "an older, longer attempt");
  const FileHandle file = CreateFileForWriting(download);
  ASSERT_NE(file, kNoFile);
  EXPECT_EQ(ReadOsFile(OsName(u8"Tavrix更新.tmp")), "") << "an existing file starts empty";
  const std::string block(10240, 'x');
  EXPECT_TRUE(WriteToFile(file, "MZ", 2));
  EXPECT_TRUE(WriteToFile(file, block.data(), static_cast<int32_t>(block.size())));
  EXPECT_TRUE(WriteToFile(file, "", 0));
  CloseFile(file);
  EXPECT_FALSE(WriteToFile(file, "late", 4));

  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(download, &bytes));
  EXPECT_EQ(bytes, "MZ" + block);
  // A doubled separator names the same file, as in the installer's paths.
  EXPECT_TRUE(IsSameFile(download, ProgramPath("\\\\Tavrix更新.tmp")));

  // "運" ends in byte 0x5C: still one file name, not a folder "?".
  const FileHandle other = CreateFileForWriting(ProgramPath("\\運行.dat"));
  ASSERT_NE(other, kNoFile);
  CloseFile(other);
  EXPECT_TRUE(Exists(OsName(u8"運行.dat")));
}

TEST_F(FilesTest, ReadWholeFileFailsOnWhatIsNoFile) {
  std::string bytes = "unchanged";
  EXPECT_FALSE(ReadWholeFile(ProgramPath("/pz/gx.ini"), &bytes));
  ASSERT_EQ(mkfifo(OsName(u8"fifo").c_str(), 0644), 0);
  EXPECT_FALSE(ReadWholeFile(ProgramPath("\\fifo"), &bytes)) << "and does not hang";
  EXPECT_FALSE(ReadWholeFile(RunDirectory(), &bytes));
  EXPECT_EQ(bytes, "unchanged");
  WriteOsFile(OsName(u8"empty"), "");
  EXPECT_TRUE(ReadWholeFile(ProgramPath("\\empty"), &bytes));
  EXPECT_EQ(bytes, "");
}

TEST_F(FilesTest, AFileOpenForWritingCannotBeDeletedOrOpenedTwice) {
  const std::string download = ProgramPath("\\Tavrix更新.tmp");
  const FileHandle file = CreateFileForWriting(download);
  ASSERT_NE(file, kNoFile);
  ASSERT_TRUE(WriteToFile(file, "partial", 7));
  EXPECT_FALSE(DeleteFileAt(download));
  EXPECT_EQ(CreateFileForWriting(download), kNoFile) << "a second writer";
  EXPECT_EQ(ReadOsFile(OsName(u8"Tavrix更新.tmp")), "partial") << "the refused writer truncated nothing";
  CloseFile(file);
  EXPECT_TRUE(DeleteFileAt(download));
  EXPECT_FALSE(Exists(OsName(u8"Tavrix更新.tmp")));
  EXPECT_FALSE(DeleteFileAt(download)) << "already gone";
}

TEST_F(FilesTest, AFileHeldByAnotherUpdaterIsNeitherDeletedNorTruncated) {
  // Another updater's writer: an exclusive flock on its own open file.
  const std::string osPath = OsName(u8"Tavrix更新.tmp");
  WriteOsFile(osPath, "theirs");
  const int theirs = open(osPath.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(theirs, 0);
  ASSERT_EQ(flock(theirs, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(DeleteFileAt(ProgramPath("\\Tavrix更新.tmp")));
  EXPECT_EQ(CreateFileForWriting(ProgramPath("\\Tavrix更新.tmp")), kNoFile);
  EXPECT_EQ(ReadOsFile(osPath), "theirs");
  close(theirs);
  EXPECT_TRUE(DeleteFileAt(ProgramPath("\\Tavrix更新.tmp")));
}

TEST_F(FilesTest, SymbolicLinksAreNeverFollowed) {
  const std::string target = OsName(u8"target");
  WriteOsFile(target, "keep");
  ASSERT_EQ(symlink(target.c_str(), OsName(u8"Tavrix更新.tmp").c_str()), 0);
  ASSERT_EQ(symlink(OsName(u8"nowhere").c_str(), OsName(u8"dangling").c_str()), 0);

  EXPECT_EQ(CreateFileForWriting(ProgramPath("\\Tavrix更新.tmp")), kNoFile);
  EXPECT_EQ(CreateFileForWriting(ProgramPath("\\dangling")), kNoFile);
  EXPECT_FALSE(Exists(OsName(u8"nowhere"))) << "a dangling link creates nothing";
  EXPECT_EQ(ReadOsFile(target), "keep");

  EXPECT_FALSE(InstallFileAs(ProgramPath("\\Tavrix更新.tmp"), ProgramPath("\\Tavrix.exe")));
  EXPECT_FALSE(Exists(OsName(u8"Tavrix.exe")));

  EXPECT_TRUE(DeleteFileAt(ProgramPath("\\Tavrix更新.tmp")));
  EXPECT_FALSE(Exists(OsName(u8"Tavrix更新.tmp")));
  EXPECT_EQ(ReadOsFile(target), "keep") << "the link went, not what it named";
}

TEST_F(FilesTest, DeleteRefusesFolders) {
  ASSERT_EQ(mkdir(OsName(u8"pz").c_str(), 0755), 0);
  EXPECT_FALSE(DeleteFileAt(ProgramPath("\\pz")));
  EXPECT_FALSE(DeleteFileAt(ProgramPath("\\")));  // an empty product name
  EXPECT_TRUE(Exists(OsName(u8"pz")));
}

// The fd of the file `osPath` names in this process, or -1.
int DescriptorOf(const std::string& osPath) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (fs::read_symlink(entry.path(), error).string() == osPath) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

TEST_F(FilesTest, CloseFromAnotherThreadStopsTheWriterAndKeepsItsNumberTaken) {
  const std::string download = ProgramPath("\\Tavrix更新.tmp");
  std::atomic<bool> created{false};
  std::atomic<FileHandle> file{kNoFile};
  std::atomic<long> written{0};
  constexpr int kBlock = 4096;
  // The writer creates the file itself, as the worker does, and writes
  // until a write fails.
  std::thread writer([&] {
    const FileHandle own = CreateFileForWriting(download);
    file = own;
    created = true;
    if (own == kNoFile) return;
    const std::string block(kBlock, 'w');
    while (WriteToFile(own, block.data(), kBlock)) ++written;
  });
  struct StopWriter {
    std::thread& writer;
    std::atomic<FileHandle>& file;
    ~StopWriter() {
      CloseFile(file);
      if (writer.joinable()) writer.join();
    }
  } stopWriter{writer, file};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!(created && (file == kNoFile || written >= 50)) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ASSERT_NE(file.load(), kNoFile);
  ASSERT_GE(written.load(), 50);
  const std::string osPath = OsName(u8"Tavrix更新.tmp");
  const int number = DescriptorOf(osPath);
  ASSERT_GE(number, 0);

  CloseFile(file);
  // The number now names /dev/null: a write the writer had already aimed at
  // it lands there, and no file opened from now on can get that number.
  char linked[PATH_MAX] = {};
  ASSERT_GT(readlink(("/proc/self/fd/" + std::to_string(number)).c_str(), linked, sizeof linked - 1), 0);
  EXPECT_STREQ(linked, "/dev/null");
  const int fresh = open(OsName(u8"fresh").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  EXPECT_NE(fresh, number);
  close(fresh);

  writer.join();
  const auto size = fs::file_size(osPath);
  EXPECT_EQ(size % kBlock, 0u) << "no torn block";
  EXPECT_LE(size, static_cast<uintmax_t>(written.load()) * kBlock);
  EXPECT_EQ(fs::file_size(OsName(u8"fresh")), 0u);
  EXPECT_TRUE(DeleteFileAt(download)) << "the file is no longer held";
  CloseFile(file);  // again: nothing happens
}

TEST_F(FilesTest, ClosingAgainNeverReachesALaterFile) {
  const FileHandle first = CreateFileForWriting(ProgramPath("\\a"));
  ASSERT_NE(first, kNoFile);
  CloseFile(first);
  const FileHandle second = CreateFileForWriting(ProgramPath("\\b"));
  ASSERT_NE(second, kNoFile);
  CloseFile(first);
  CloseFile(kNoFile);
  EXPECT_FALSE(WriteToFile(first, "x", 1));
  EXPECT_TRUE(WriteToFile(second, "b", 1));
  CloseFile(second);
  EXPECT_EQ(ReadOsFile(OsName(u8"a")), "");
  EXPECT_EQ(ReadOsFile(OsName(u8"b")), "b");
}

TEST_F(FilesTest, CloseAllFilesClosesEveryOpenFile) {
  const FileHandle a = CreateFileForWriting(ProgramPath("\\a"));
  const FileHandle b = CreateFileForWriting(ProgramPath("\\b"));
  ASSERT_NE(a, kNoFile);
  ASSERT_NE(b, kNoFile);
  CloseAllFiles();
  EXPECT_FALSE(WriteToFile(a, "x", 1));
  EXPECT_FALSE(WriteToFile(b, "x", 1));
  EXPECT_TRUE(DeleteFileAt(ProgramPath("\\a")));
  EXPECT_TRUE(DeleteFileAt(ProgramPath("\\b")));
}

TEST_F(FilesTest, InstallReplacesTheExecutableInOneStep) {
  const std::string exe = OsName(u8"Tavrix.exe");
  WriteOsFile(exe, "old product", 0700);
  WriteOsFile(OsName(u8"Tavrix更新.tmp"), "new product", 0666);
  struct stat downloaded {};
  ASSERT_EQ(stat(OsName(u8"Tavrix更新.tmp").c_str(), &downloaded), 0);
  // Whoever still has the old file open keeps reading the old file: the name
  // moved to the new one, nothing was written over.
  const int oldOpen = open(exe.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(oldOpen, 0);

  ASSERT_TRUE(InstallFileAs(ProgramPath("\\\\Tavrix更新.tmp"), ProgramPath("\\\\Tavrix.exe")));

  EXPECT_FALSE(Exists(OsName(u8"Tavrix更新.tmp")));
  EXPECT_EQ(ReadOsFile(exe), "new product");
  struct stat installed {};
  ASSERT_EQ(stat(exe.c_str(), &installed), 0);
  EXPECT_EQ(installed.st_ino, downloaded.st_ino);
  EXPECT_EQ(installed.st_mode & 07777, 0755u);
  char old[32] = {};
  EXPECT_EQ(pread(oldOpen, old, sizeof old, 0), 11);
  EXPECT_STREQ(old, "old product");
  close(oldOpen);
}

TEST_F(FilesTest, AFailedInstallLeavesTheExecutableAlone) {
  const std::string exe = OsName(u8"Tavrix.exe");
  WriteOsFile(exe, "old product", 0755);
  // No download at all.
  EXPECT_FALSE(InstallFileAs(ProgramPath("\\Tavrix更新.tmp"), ProgramPath("\\Tavrix.exe")));
  // A download that cannot take the place of a folder.
  WriteOsFile(OsName(u8"Tavrix更新.tmp"), "new product", 0644);
  ASSERT_EQ(mkdir(OsName(u8"dir").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(OsName(u8"dir/inside").c_str(), 0755), 0);
  EXPECT_FALSE(InstallFileAs(ProgramPath("\\Tavrix更新.tmp"), ProgramPath("\\dir")));
  struct stat download {};
  ASSERT_EQ(stat(OsName(u8"Tavrix更新.tmp").c_str(), &download), 0);
  EXPECT_EQ(download.st_mode & 07777, 0644u) << "the download keeps its mode";
  // A folder in place of the download.
  EXPECT_FALSE(InstallFileAs(ProgramPath("\\dir"), ProgramPath("\\Tavrix.exe")));
  EXPECT_EQ(ReadOsFile(exe), "old product");
}

TEST_F(FilesTest, IsSameFileComparesFilesNotNames) {
  WriteOsFile(OsName(u8"a"), "1");
  WriteOsFile(OsName(u8"b"), "1");
  ASSERT_EQ(link(OsName(u8"a").c_str(), OsName(u8"hard").c_str()), 0);
  EXPECT_TRUE(IsSameFile(ProgramPath("\\a"), ProgramPath("/hard")));
  EXPECT_FALSE(IsSameFile(ProgramPath("\\a"), ProgramPath("\\b")));
  EXPECT_FALSE(IsSameFile(ProgramPath("\\a"), ProgramPath("\\missing")));
}

TEST(RunDirectoryFromExecutable, IsTheExecutablesFolderAndTheCurrentDirectory) {
  char before[PATH_MAX];
  ASSERT_NE(getcwd(before, sizeof before), nullptr);
  ASSERT_TRUE(TakeRunDirectoryFromExecutable());
  char* exe = realpath("/proc/self/exe", nullptr);
  ASSERT_NE(exe, nullptr);
  const std::string folder = fs::path(exe).parent_path().string();
  free(exe);
  char now[PATH_MAX];
  ASSERT_NE(getcwd(now, sizeof now), nullptr);
  EXPECT_EQ(std::string(now), folder);
  EXPECT_EQ(RunDirectory(), Utf8ToGbk(folder));
  EXPECT_EQ(OsPath(JoinText(RunDirectory(), "\\x")), folder + "/x");
  ASSERT_EQ(chdir(before), 0);
  SetRunDirectory("");
}

}  // namespace
}  // namespace updater
