#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win_errors.h"

namespace korva::platform {
namespace {

constexpr uint32_t kReadWrite = kGenericRead | kGenericWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite | kShareDelete;

class FilesTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Files().MakeTempDirectory(&folder_), winerr::kSuccess); }
    void TearDown() override { EXPECT_EQ(Files().RemoveDirectoryTree(folder_.c_str()), winerr::kSuccess); }

    WString PathOf(WStringView name) const { return JoinPath(folder_, name); }

    void MakeFile(const WString& path, const std::string& content) {
        ASSERT_EQ(WriteWholeFile(path.c_str(), content.data(), content.size()), winerr::kSuccess);
    }

    static std::string Content(const WString& path) {
        std::vector<uint8_t> bytes;
        EXPECT_EQ(ReadWholeFile(path.c_str(), &bytes), winerr::kSuccess);
        return std::string(bytes.begin(), bytes.end());
    }

    static std::unique_ptr<File> Open(const WString& path, uint32_t access, uint32_t share,
                                      Disposition disposition) {
        std::unique_ptr<File> file;
        EXPECT_EQ(Files().Open(path.c_str(), access, share, disposition, &file), winerr::kSuccess);
        return file;
    }

    WString folder_;
};

TEST_F(FilesTest, ShareModesDecideWhetherASecondOpenSucceeds) {
    const struct {
        const char* what;
        uint32_t firstAccess, firstShare, secondAccess, secondShare;
        int32_t result;
    } kCases[] = {
        {"two readers sharing reading", kGenericRead, kShareRead, kGenericRead, kShareRead, winerr::kSuccess},
        {"writer after a reader that does not share writing", kGenericRead, kShareRead, kGenericWrite,
         kShareAll, winerr::kSharingViolation},
        {"reader after an exclusive writer", kGenericWrite, kShareNone, kGenericRead, kShareAll,
         winerr::kSharingViolation},
        {"reader that does not share writing after a writer", kGenericWrite, kShareRead, kGenericRead,
         kShareRead, winerr::kSharingViolation},
        // Each shares exactly what the other uses.
        {"writer sharing reading, reader sharing writing", kGenericWrite, kShareRead, kGenericRead,
         kShareWrite, winerr::kSuccess},
        {"two writers sharing everything", kGenericWrite, kShareRead | kShareWrite, kGenericWrite,
         kShareRead | kShareWrite, winerr::kSuccess},
        {"two log writers without write sharing", kReadWrite, kShareRead, kReadWrite, kShareRead,
         winerr::kSharingViolation},
        {"full access after a reader sharing read and write", kGenericRead, kShareRead | kShareWrite,
         kGenericAll, kShareAll, winerr::kSharingViolation},
        // An open without read, write or delete access takes no part in sharing.
        {"no access first", 0, kShareNone, kGenericRead, kShareNone, winerr::kSuccess},
        {"no access second", kGenericWrite, kShareNone, 0, kShareNone, winerr::kSuccess},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const WString path = PathOf(KW("shared.txt"));
        MakeFile(path, "data");
        {
            std::unique_ptr<File> first = Open(path, c.firstAccess, c.firstShare, Disposition::OpenExisting);
            ASSERT_TRUE(first);
            std::unique_ptr<File> second;
            EXPECT_EQ(
                Files().Open(path.c_str(), c.secondAccess, c.secondShare, Disposition::OpenExisting, &second),
                c.result);
            EXPECT_EQ(second != nullptr, c.result == winerr::kSuccess);
        }
        // Once the first is closed, the second open always succeeds.
        std::unique_ptr<File> later = Open(path, c.secondAccess, c.secondShare, Disposition::OpenExisting);
        EXPECT_TRUE(later);
    }
}

TEST_F(FilesTest, DeletingAnOpenFileNeedsDeleteSharing) {
    const WString path = PathOf(KW("open.txt"));
    MakeFile(path, "x");
    {
        std::unique_ptr<File> file =
            Open(path, kGenericRead, kShareRead | kShareWrite, Disposition::OpenExisting);
        EXPECT_EQ(Files().Delete(path.c_str()), winerr::kSharingViolation);
    }
    EXPECT_EQ(Files().Delete(path.c_str()), winerr::kSuccess);
    EXPECT_EQ(Files().Delete(path.c_str()), winerr::kFileNotFound);
    EXPECT_EQ(Files().Delete(PathOf(KW("no-folder/x.txt")).c_str()), winerr::kPathNotFound);
    // A folder is not a file.
    EXPECT_EQ(Files().Delete(folder_.c_str()), winerr::kAccessDenied);
}

TEST_F(FilesTest, DispositionsOnExistingAndMissingFiles) {
    const struct {
        const char* what;
        Disposition disposition;
        bool exists;
        int32_t result;
        uint64_t sizeAfter;  // size right after opening
    } kCases[] = {
        {"create new, existing", Disposition::CreateNew, true, winerr::kFileExists, 0},
        {"create new, missing", Disposition::CreateNew, false, winerr::kSuccess, 0},
        {"create always truncates", Disposition::CreateAlways, true, winerr::kSuccess, 0},
        {"create always, missing", Disposition::CreateAlways, false, winerr::kSuccess, 0},
        {"open existing keeps content", Disposition::OpenExisting, true, winerr::kSuccess, 5},
        {"open existing, missing", Disposition::OpenExisting, false, winerr::kFileNotFound, 0},
        {"open always keeps content", Disposition::OpenAlways, true, winerr::kSuccess, 5},
        {"open always creates", Disposition::OpenAlways, false, winerr::kSuccess, 0},
        {"truncate existing", Disposition::TruncateExisting, true, winerr::kSuccess, 0},
        {"truncate existing, missing", Disposition::TruncateExisting, false, winerr::kFileNotFound, 0},
    };
    int index = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        const WString path = PathOf(AsciiToWide("file" + std::to_string(index++)));
        if (c.exists) {
            MakeFile(path, "12345");
        }
        std::unique_ptr<File> file;
        ASSERT_EQ(Files().Open(path.c_str(), kReadWrite, kShareRead, c.disposition, &file), c.result);
        if (c.result != winerr::kSuccess) {
            EXPECT_EQ(file, nullptr);
            continue;
        }
        uint64_t size = 99;
        ASSERT_EQ(file->GetSize(&size), winerr::kSuccess);
        EXPECT_EQ(size, c.sizeAfter);
    }
}

TEST_F(FilesTest, OpenErrors) {
    std::unique_ptr<File> file;
    // A missing folder on the way is a path error, not a file error.
    EXPECT_EQ(Files().Open(PathOf(KW("no-folder/f.txt")).c_str(), kGenericRead, kShareRead,
                           Disposition::OpenExisting, &file),
              winerr::kPathNotFound);
    EXPECT_EQ(Files().Open(PathOf(KW("no-folder/f.txt")).c_str(), kGenericWrite, kShareRead,
                           Disposition::CreateAlways, &file),
              winerr::kPathNotFound);
    // A folder cannot be opened as a file.
    EXPECT_EQ(Files().Open(folder_.c_str(), kGenericRead, kShareAll, Disposition::OpenExisting, &file),
              winerr::kAccessDenied);
    // Truncating requires write access.
    MakeFile(PathOf(KW("t.txt")), "abc");
    EXPECT_EQ(Files().Open(PathOf(KW("t.txt")).c_str(), kGenericRead, kShareRead,
                           Disposition::TruncateExisting, &file),
              winerr::kInvalidParameter);
    EXPECT_EQ(Content(PathOf(KW("t.txt"))), "abc");
    EXPECT_EQ(Files().Open(KW(""), kGenericRead, kShareRead, Disposition::OpenExisting, &file),
              winerr::kPathNotFound);
    EXPECT_EQ(Files().Open(nullptr, kGenericRead, kShareRead, Disposition::OpenExisting, &file),
              winerr::kInvalidParameter);
    EXPECT_EQ(file, nullptr);
}

TEST_F(FilesTest, SeekSizeTruncateAndAppend) {
    const WString path = PathOf(KW("log.txt"));
    {
        std::unique_ptr<File> file = Open(path, kReadWrite, kShareRead, Disposition::CreateAlways);
        ASSERT_TRUE(file);
        uint32_t written = 0;
        ASSERT_EQ(file->Write("hello world", 11, &written), winerr::kSuccess);
        EXPECT_EQ(written, 11u);
        uint64_t position = 0;
        ASSERT_EQ(file->Seek(5, SeekOrigin::Begin, &position), winerr::kSuccess);
        EXPECT_EQ(position, 5u);
        // The end moves to the current position.
        ASSERT_EQ(file->SetEnd(), winerr::kSuccess);
        uint64_t size = 0;
        ASSERT_EQ(file->GetSize(&size), winerr::kSuccess);
        EXPECT_EQ(size, 5u);
        ASSERT_EQ(file->Seek(0, SeekOrigin::End, &position), winerr::kSuccess);
        EXPECT_EQ(position, 5u);
        ASSERT_EQ(file->Write("!!", 2, &written), winerr::kSuccess);
        ASSERT_EQ(file->Seek(-3, SeekOrigin::Current, &position), winerr::kSuccess);
        EXPECT_EQ(position, 4u);
        char buffer[16] = {};
        uint32_t read = 0;
        ASSERT_EQ(file->Read(buffer, sizeof(buffer), &read), winerr::kSuccess);
        EXPECT_EQ(std::string(buffer, read), "o!!");
        // At the end a read succeeds with nothing.
        ASSERT_EQ(file->Read(buffer, sizeof(buffer), &read), winerr::kSuccess);
        EXPECT_EQ(read, 0u);
        // Before the start is refused and the position stays.
        EXPECT_EQ(file->Seek(-100, SeekOrigin::Begin, &position), winerr::kNegativeSeek);
        EXPECT_EQ(file->Seek(-8, SeekOrigin::End, &position), winerr::kNegativeSeek);
        ASSERT_EQ(file->Seek(0, SeekOrigin::Current, &position), winerr::kSuccess);
        EXPECT_EQ(position, 7u);
        // Beyond the end is allowed; writing there extends the file.
        ASSERT_EQ(file->Seek(2, SeekOrigin::End, &position), winerr::kSuccess);
        ASSERT_EQ(file->Write("x", 1, &written), winerr::kSuccess);
        ASSERT_EQ(file->GetSize(&size), winerr::kSuccess);
        EXPECT_EQ(size, 10u);
        EXPECT_EQ(file->Close(), winerr::kSuccess);
    }
    EXPECT_EQ(Content(path), std::string("hello!!\0\0x", 10));
    {
        // Appending as the log writers do: open always, then write at the end.
        std::unique_ptr<File> file = Open(path, kGenericWrite, kShareRead, Disposition::OpenAlways);
        ASSERT_TRUE(file);
        uint64_t position = 0;
        ASSERT_EQ(file->Seek(0, SeekOrigin::End, &position), winerr::kSuccess);
        uint32_t written = 0;
        ASSERT_EQ(file->Write("\r\nnext", 6, &written), winerr::kSuccess);
    }
    EXPECT_EQ(Content(path), std::string("hello!!\0\0x\r\nnext", 16));
}

TEST_F(FilesTest, HandlesAllowOnlyTheirAccessAndDieWhenClosed) {
    const WString path = PathOf(KW("a.txt"));
    MakeFile(path, "abc");
    char buffer[4];
    uint32_t count = 7;
    uint64_t value = 0;
    {
        std::unique_ptr<File> reader = Open(path, kGenericRead, kShareAll, Disposition::OpenExisting);
        EXPECT_EQ(reader->Write("x", 1, &count), winerr::kAccessDenied);
        EXPECT_EQ(count, 0u);
        // Windows says access denied; Wine says invalid parameter. Either way the file keeps its content.
        EXPECT_NE(reader->SetEnd(), winerr::kSuccess);
        std::unique_ptr<File> writer = Open(path, kGenericWrite, kShareAll, Disposition::OpenExisting);
        EXPECT_EQ(writer->Read(buffer, 1, &count), winerr::kAccessDenied);
    }
    EXPECT_EQ(Content(path), "abc");
    std::unique_ptr<File> file = Open(path, kReadWrite, kShareAll, Disposition::OpenExisting);
    ASSERT_EQ(file->Close(), winerr::kSuccess);
    EXPECT_EQ(file->Close(), winerr::kInvalidHandle);
    EXPECT_EQ(file->Read(buffer, 1, &count), winerr::kInvalidHandle);
    EXPECT_EQ(file->Write("x", 1, &count), winerr::kInvalidHandle);
    EXPECT_EQ(file->GetSize(&value), winerr::kInvalidHandle);
    EXPECT_EQ(file->Seek(0, SeekOrigin::Begin, &value), winerr::kInvalidHandle);
    EXPECT_EQ(file->SetEnd(), winerr::kInvalidHandle);
}

TEST_F(FilesTest, NonAsciiNamesWork) {
    const WChar emoji[] = {u'e', u'-', 0xD83D, 0xDE00, u'.', u't', u'x', u't', 0};  // U+1F600
    const WString kNames[] = {
        KW("\u00DCbergr\u00F6\u00DFentr\u00E4ger.txt"),
        KW("\u65E5\u672C\u8A9E.log"),
        KW("na\u00EFve caf\u00E9"),
        emoji,
        KW("\u0420\u0443\u0441\u0441\u043A\u0438\u0439"),
    };
    int index = 0;
    for (const WString& name : kNames) {
        SCOPED_TRACE(index);
        const WString path = PathOf(name);
        const std::string content = "content " + std::to_string(index++);
        MakeFile(path, content);
        EXPECT_EQ(Content(path), content);
        // The name round-trips: a second create of the same name finds the file.
        std::unique_ptr<File> file;
        EXPECT_EQ(Files().Open(path.c_str(), kGenericWrite, kShareRead, Disposition::CreateNew, &file),
                  winerr::kFileExists);
    }
    // The last one is left for RemoveDirectoryTree; the others are deleted one by one.
    for (size_t i = 0; i + 1 < std::size(kNames); ++i) {
        EXPECT_EQ(Files().Delete(PathOf(kNames[i]).c_str()), winerr::kSuccess);
    }
}

TEST_F(FilesTest, WholeFileHelpers) {
    const WString path = PathOf(KW("whole.bin"));
    std::vector<uint8_t> content;
    EXPECT_EQ(ReadWholeFile(path.c_str(), &content), winerr::kFileNotFound);
    std::string big(100'000, 'a');
    big[99'999] = 'z';
    MakeFile(path, big);
    EXPECT_EQ(Content(path), big);
    // Writing again replaces, even with less.
    MakeFile(path, "short");
    EXPECT_EQ(Content(path), "short");
    MakeFile(path, "");
    EXPECT_EQ(Content(path), "");
    EXPECT_EQ(WriteWholeFile(path.c_str(), nullptr, 1), winerr::kInvalidParameter);
}

TEST_F(FilesTest, TemporaryFoldersAreNewAndRemovable) {
    WString other;
    ASSERT_EQ(Files().MakeTempDirectory(&other), winerr::kSuccess);
    EXPECT_NE(other, folder_);
    MakeFile(JoinPath(other, KW("a")), "1");
    MakeFile(JoinPath(other, KW("b")), "2");
    EXPECT_EQ(Files().RemoveDirectoryTree(other.c_str()), winerr::kSuccess);
    std::vector<uint8_t> content;
    EXPECT_NE(ReadWholeFile(JoinPath(other, KW("a")).c_str(), &content), winerr::kSuccess);
    EXPECT_NE(Files().RemoveDirectoryTree(other.c_str()), winerr::kSuccess);
}

TEST(JoinPathTest, OneSeparatorBetweenParts) {
    const WString sep(1, PathSeparator());
    const struct {
        WString folder, name, joined;
    } kCases[] = {
        {KW("a"), KW("b"), KW("a") + sep + KW("b")},
        {KW("a") + sep, KW("b"), KW("a") + sep + KW("b")},
        {KW("a"), sep + KW("b"), KW("a") + sep + KW("b")},
        {KW(""), KW("b"), KW("b")},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(JoinPath(c.folder, c.name), c.joined);
    }
}

// A file system that refuses everything, to check that the helpers go through the seam.
class RefusingFileSystem final : public FileSystem {
  public:
    int32_t Open(const WChar*, uint32_t, uint32_t, Disposition, std::unique_ptr<File>*) override {
        return winerr::kAccessDenied;
    }
    int32_t Delete(const WChar*) override { return winerr::kAccessDenied; }
    int32_t MakeTempDirectory(WString*) override { return winerr::kAccessDenied; }
    int32_t RemoveDirectoryTree(const WChar*) override { return winerr::kAccessDenied; }
};

TEST(FileSystemOverrideTest, HelpersUseTheOverrideUntilItEnds) {
    FileSystem* const before = &Files();
    {
        RefusingFileSystem refusing;
        ScopedFileSystemOverride guard(&refusing);
        std::vector<uint8_t> content;
        EXPECT_EQ(ReadWholeFile(KW("anything"), &content), winerr::kAccessDenied);
        EXPECT_EQ(WriteWholeFile(KW("anything"), "x", 1), winerr::kAccessDenied);
    }
    EXPECT_EQ(&Files(), before);
}

}  // namespace
}  // namespace korva::platform
