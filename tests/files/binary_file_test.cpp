#include "files/binary_file.h"
#include "files/file_access.h"
#include "files/image_file.h"

#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#if defined(__unix__)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using vardel::AppendToFile;
using vardel::FileKind;
using vardel::FileKindOf;
using vardel::FileTypeSuffix;
using vardel::ImageFailure;
using vardel::ImageRead;
using vardel::ReadImageFile;
using vardel::ReplaceFileAtomically;
using vardel::WriteBinaryFile;
using vardel::test::RandomBytes;
using vardel::test::ReadWholeFile;
using vardel::test::ScratchFolder;
using vardel::test::WriteWholeFile;

TEST(FileKinds, DecidedByTheLastThreeCharactersInAnyCase)
{
    EXPECT_EQ(FileTypeSuffix("image.hex"), "hex");
    EXPECT_EQ(FileTypeSuffix("ab"), "ab");
    EXPECT_EQ(FileTypeSuffix(""), "");

    EXPECT_EQ(FileKindOf("IMAGE.HEX"), FileKind::Hex);
    EXPECT_EQ(FileKindOf("image.hex"), FileKind::Hex);
    EXPECT_EQ(FileKindOf("Image.HeX"), FileKind::Hex);
    EXPECT_EQ(FileKindOf("dumphex"), FileKind::Hex);
    EXPECT_EQ(FileKindOf("hex"), FileKind::Hex);
    EXPECT_EQ(FileKindOf("flash.BIN"), FileKind::Bin);
    EXPECT_EQ(FileKindOf("cabin"), FileKind::Bin);
    EXPECT_EQ(FileKindOf("x.bin.txt"), FileKind::Other);
    EXPECT_EQ(FileKindOf("x.hex "), FileKind::Other);
    EXPECT_EQ(FileKindOf("ex"), FileKind::Other);
    EXPECT_EQ(FileKindOf(""), FileKind::Other);
}

// An image file as the pages and vardel-cli read it: a binary file's first bytes up to the limit,
// and a file of 0 bytes, what a failed build or download leaves, is no image of any kind.
TEST(ImageRead, TakesAtMostTheLimitAndRefusesAnEmptyFileByName)
{
    ScratchFolder folder;
    const auto file = folder.file("data.bin");
    const auto bytes = RandomBytes(100, 11);
    WriteWholeFile(file, std::string(bytes.begin(), bytes.end()));
    for (const std::size_t limit : {std::size_t{64}, std::size_t{200}}) {
        const ImageRead read = ReadImageFile(file, limit);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read.file.bin, std::vector<std::uint8_t>(
                                     bytes.begin(), bytes.begin() + std::min<long>(100, limit)));
    }
    EXPECT_EQ(ReadImageFile(folder.file("absent.bin"), 8).failure, ImageFailure::Unreadable);
    for (const char* name : {"empty.bin", "empty.HEX"}) {
        WriteWholeFile(folder.file(name), "");
        const ImageRead read = ReadImageFile(folder.file(name), 8);
        EXPECT_EQ(read.failure, ImageFailure::Empty) << name;
        EXPECT_NE(read.detail.find(folder.file(name)), std::string::npos) << read.detail;
    }
}

TEST(BinaryWrite, WritesExactlyTheBytesAndReplacesALongerFile)
{
    ScratchFolder folder;
    const auto file = folder.file("flash.bin");
    WriteWholeFile(file, std::string(0x30000, 'x'));

    const auto bytes = RandomBytes(0x20000, 3);
    ASSERT_TRUE(WriteBinaryFile(file, bytes.data(), bytes.size()));
    EXPECT_EQ(ReadWholeFile(file), std::string(bytes.begin(), bytes.end()));

    ASSERT_TRUE(WriteBinaryFile(file, nullptr, 0));
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"flash.bin"});
}

TEST(AtomicReplacement, NothingIsCreatedWhenTheFolderIsMissing)
{
    ScratchFolder folder;
    const auto bytes = RandomBytes(16, 5);
    EXPECT_FALSE(WriteBinaryFile(folder.file("missing/flash.bin"), bytes.data(), bytes.size()));
    EXPECT_FALSE(ReplaceFileAtomically(folder.file("missing/note.txt"), "text"));
    EXPECT_FALSE(ReplaceFileAtomically("", "text"));
    EXPECT_TRUE(folder.names().empty());
}

TEST(AtomicReplacement, FailedRenameLeavesTheTargetAndRemovesTheTemporary)
{
    ScratchFolder folder;
    // A folder that is not empty cannot be renamed over.
    const auto target = folder.file("busy");
    std::filesystem::create_directory(target);
    WriteWholeFile(folder.file("busy/inside"), "kept");

    EXPECT_FALSE(ReplaceFileAtomically(target, "new content"));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"busy"});
    EXPECT_EQ(ReadWholeFile(folder.file("busy/inside")), "kept");
}

#if defined(__unix__)
TEST(AtomicReplacement, ShortWriteLeavesTheExistingFileWhole)
{
    ScratchFolder folder;
    const auto file = folder.file("flash.bin");
    WriteWholeFile(file, "original image");

    // A file size limit makes the write come up short, even for root.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max < small.rlim_cur)
        small.rlim_cur = saved.rlim_max;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    const auto bytes = RandomBytes(1024 * 1024, 9);
    const bool binaryWritten = WriteBinaryFile(file, bytes.data(), bytes.size());
    const bool textWritten = ReplaceFileAtomically(file, std::string(bytes.begin(), bytes.end()));

    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(binaryWritten);
    EXPECT_FALSE(textWritten);
    EXPECT_EQ(ReadWholeFile(file), "original image");
    EXPECT_EQ(folder.names(), std::vector<std::string>{"flash.bin"});
}

// A log line goes in whole or not at all, and a line cut short before (a crash, a full disk) is
// ended first, so the next one is never joined to it.
TEST(LogAppend, ALineGoesInWholeOrNotAtAll)
{
    ScratchFolder folder;
    const auto log = folder.file("runs.csv");
    ASSERT_TRUE(AppendToFile(log, "first\n", "head\n"));
    WriteWholeFile(log, ReadWholeFile(log) + "cut sh");
    ASSERT_TRUE(AppendToFile(log, "second\n", "head\n"));
    EXPECT_EQ(ReadWholeFile(log), "head\nfirst\ncut sh\nsecond\n");

    // No room for the whole line: a file size limit cuts the write short, even for root.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 40;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = AppendToFile(log, std::string(100, 'x') + "\n", "head\n");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadWholeFile(log), "head\nfirst\ncut sh\nsecond\n");
}

TEST(AtomicReplacement, AFileWritableInAReadOnlyFolderIsRewrittenInPlace)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    ScratchFolder folder;
    const auto sub = folder.path() / "locked";
    std::filesystem::create_directory(sub);
    const auto file = (sub / "flash.bin").string();
    WriteWholeFile(file, "original image");
    std::filesystem::permissions(sub,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);

    const auto bytes = RandomBytes(64, 4);
    const bool written = WriteBinaryFile(file, bytes.data(), bytes.size());
    std::filesystem::permissions(sub, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
    EXPECT_TRUE(written);
    EXPECT_EQ(ReadWholeFile(file), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(std::filesystem::directory_iterator(sub)->path().filename(), "flash.bin");
}
#endif

#if defined(__unix__)
TEST(FileReading, OnlyARegularFileIsReadAndTheLimitIsKept)
{
    ScratchFolder folder;
    const auto file = folder.file("image.bin");
    WriteWholeFile(file, "0123456789");
    std::filesystem::create_symlink("/dev/zero", folder.file("zero.bin"));
    ASSERT_EQ(::mkfifo(folder.file("fifo.bin").c_str(), 0600), 0);
    using vardel::ReadFailure;
    using vardel::ReadLimit;
    const struct {
        std::string name;
        std::size_t limit;
        ReadLimit how;
        ReadFailure failure;
        std::size_t size;
    } cases[] = {
        {file, 10, ReadLimit::Whole, ReadFailure::None, 10},
        {file, 9, ReadLimit::Whole, ReadFailure::TooLarge, 0},
        {file, 4, ReadLimit::AtMost, ReadFailure::None, 4},
        {folder.file("absent.bin"), 10, ReadLimit::Whole, ReadFailure::CannotOpen, 0},
        {folder.path().string(), 10, ReadLimit::AtMost, ReadFailure::NotAFile, 0},
        {folder.file("zero.bin"), 10, ReadLimit::AtMost, ReadFailure::NotAFile, 0},
        {folder.file("fifo.bin"), 10, ReadLimit::AtMost, ReadFailure::NotAFile,
         0}, // no writer: no hang
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto read = vardel::ReadWholeFile(c.name, c.limit, c.how);
        EXPECT_EQ(read.failure, c.failure);
        EXPECT_EQ(read.bytes.size(), c.size);
    }
}

TEST(AtomicReplacement, ALinkKeepsPointingAtItsTargetWhichKeepsItsMode)
{
    ScratchFolder folder;
    std::filesystem::create_directory(folder.path() / "real");
    const auto target = folder.file("real/flash.bin");
    WriteWholeFile(target, "old");
    ::chmod(target.c_str(), 0600);
    // Only root may give a file to another owner, and only root's saves can keep that owner.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 4321, 4322), 0);
    }
    std::filesystem::create_symlink("real/flash.bin", folder.file("link.bin"));

    ASSERT_TRUE(ReplaceFileAtomically(folder.file("link.bin"), "new content"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder.file("link.bin")));
    EXPECT_EQ(ReadWholeFile(target), "new content");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(info.st_uid, 4321u);
        EXPECT_EQ(info.st_gid, 4322u);
    }
    EXPECT_EQ(folder.names().size(), 2u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path() / "real"),
                            std::filesystem::directory_iterator()),
              1);
}
#endif

#if defined(__unix__)
// A signal in the middle of a save removes the temporary before the process ends by it. SIGXFSZ
// stands for SIGINT, SIGTERM and SIGHUP: the file size limit raises it inside the write, at a
// known point.
TEST(AtomicReplacement, ASignalDuringASaveLeavesNoTemporary)
{
    ScratchFolder folder;
    const auto file = folder.file("flash.bin");
    WriteWholeFile(file, "original image");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rlimit small{64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &small);
        vardel::RemoveTemporariesOnSignals({SIGXFSZ});
        const auto bytes = RandomBytes(1024 * 1024, 3);
        WriteBinaryFile(file, bytes.data(), bytes.size());
        ::_exit(0); // not reached: the signal ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(folder.names(), std::vector<std::string>{"flash.bin"});
    EXPECT_EQ(ReadWholeFile(file), "original image");
}
#endif
