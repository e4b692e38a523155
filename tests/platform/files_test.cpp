#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/result_codes.h"

namespace korva::platform {
namespace {

constexpr uint32_t kReadWrite = kGenericRead | kGenericWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite | kShareDelete;

class FilesTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Files().MakeTempDirectory(&folder_), winerr::kSuccess); }
    void TearDown() override { EXPECT_EQ(Files().RemoveDirectoryTree(folder_.c_str()), winerr::kSuccess); }

    WString MakeFile(WStringView name, const std::string& content) {
        const WString path = JoinPath(folder_, name);
        EXPECT_EQ(WriteWholeFile(path.c_str(), content.data(), content.size()), winerr::kSuccess);
        return path;
    }
    static int32_t Open(const WString& path, uint32_t access, uint32_t share, std::unique_ptr<File>* file,
                        Disposition disposition = Disposition::OpenExisting) {
        return Files().Open(path.c_str(), access, share, disposition, file);
    }

    WString folder_;
};

TEST_F(FilesTest, ShareModesDecideWhetherASecondOpenSucceeds) {
    const struct {
        uint32_t firstAccess, firstShare, secondAccess, secondShare;
        int32_t result;
    } kCases[] = {
        {kGenericRead, kShareRead, kGenericRead, kShareRead, winerr::kSuccess},
        {kGenericRead, kShareRead, kGenericWrite, kShareAll, winerr::kSharingViolation},
        {kGenericWrite, kShareNone, kGenericRead, kShareAll, winerr::kSharingViolation},
        {kGenericWrite, kShareRead, kGenericRead, kShareRead, winerr::kSharingViolation},
        // Each shares exactly what the other uses.
        {kGenericWrite, kShareRead, kGenericRead, kShareWrite, winerr::kSuccess},
        {kGenericWrite, kShareRead | kShareWrite, kGenericWrite, kShareRead | kShareWrite, winerr::kSuccess},
        {kReadWrite, kShareRead, kReadWrite, kShareRead, winerr::kSharingViolation},
        {kGenericRead, kShareRead | kShareWrite, kGenericAll, kShareAll, winerr::kSharingViolation},
        // An open without read, write or delete access takes no part in sharing.
        {0, kShareNone, kGenericRead, kShareNone, winerr::kSuccess},
        {kGenericWrite, kShareNone, 0, kShareNone, winerr::kSuccess},
    };
    const WString path = MakeFile(KW("shared.txt"), "data");
    int row = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(row++);
        std::unique_ptr<File> first;
        std::unique_ptr<File> second;
        ASSERT_EQ(Open(path, c.firstAccess, c.firstShare, &first), 0);
        EXPECT_EQ(Open(path, c.secondAccess, c.secondShare, &second), c.result);
        EXPECT_EQ(second != nullptr, c.result == winerr::kSuccess);
        // Once the others are closed, the second open succeeds.
        first.reset();
        second.reset();
        EXPECT_EQ(Open(path, c.secondAccess, c.secondShare, &second), 0);
    }
}

TEST_F(FilesTest, DispositionsOnExistingAndMissingFiles) {
    const struct {
        Disposition disposition;
        bool exists;
        int32_t result;
        uint64_t sizeAfter;  // size right after opening
    } kCases[] = {
        {Disposition::CreateNew, true, winerr::kFileExists, 0},
        {Disposition::CreateNew, false, winerr::kSuccess, 0},
        {Disposition::CreateAlways, true, winerr::kSuccess, 0},
        {Disposition::OpenExisting, true, winerr::kSuccess, 5},
        {Disposition::OpenExisting, false, winerr::kFileNotFound, 0},
        {Disposition::OpenAlways, true, winerr::kSuccess, 5},
        {Disposition::OpenAlways, false, winerr::kSuccess, 0},
        {Disposition::TruncateExisting, true, winerr::kSuccess, 0},
        {Disposition::TruncateExisting, false, winerr::kFileNotFound, 0},
    };
    // Neighbouring names differ only in non-ASCII characters: a lossy name conversion makes rows collide.
    const WChar emoji[] = {0xD83D, 0xDE00, u'-', 0};  // U+1F600
    const WString kPrefixes[] = {KW("\u00DC\u00E4-"), KW("\u65E5\u672C-"), emoji};
    int row = 0;
    for (const auto& c : kCases) {
        SCOPED_TRACE(row);
        const WString name = kPrefixes[row % 3] + AsciiToWide(std::to_string(row / 3));
        ++row;
        const WString path = c.exists ? MakeFile(name, "12345") : JoinPath(folder_, name);
        std::unique_ptr<File> file;
        ASSERT_EQ(Open(path, kReadWrite, kShareRead, &file, c.disposition), c.result);
        uint64_t size = 99;
        EXPECT_TRUE(c.result != 0 ? file == nullptr : file->GetSize(&size) == 0 && size == c.sizeAfter);
    }
}

TEST_F(FilesTest, SeekSizeTruncateAndAppend) {
    const WString path = JoinPath(folder_, KW("log.txt"));
    std::unique_ptr<File> file;
    ASSERT_EQ(Open(path, kReadWrite, kShareRead, &file, Disposition::CreateAlways), 0);
    uint32_t count = 0;
    uint64_t at = 0;
    ASSERT_EQ(file->Write("hello world", 11, &count), winerr::kSuccess);
    ASSERT_EQ(file->Seek(5, SeekOrigin::Begin, &at), winerr::kSuccess);
    ASSERT_EQ(file->SetEnd(), winerr::kSuccess);  // the end moves to the current position
    ASSERT_EQ(file->GetSize(&at), winerr::kSuccess);
    EXPECT_EQ(at, 5u);
    ASSERT_EQ(file->Seek(0, SeekOrigin::End, &at), winerr::kSuccess);
    ASSERT_EQ(file->Write("!!", 2, &count), winerr::kSuccess);
    ASSERT_EQ(file->Seek(-3, SeekOrigin::Current, &at), winerr::kSuccess);
    EXPECT_EQ(at, 4u);
    char buffer[16] = {};
    ASSERT_EQ(file->Read(buffer, sizeof(buffer), &count), winerr::kSuccess);
    EXPECT_EQ(std::string(buffer, count), "o!!");
    // Before the start is refused; beyond the end is allowed and writing there extends the file.
    EXPECT_EQ(file->Seek(-8, SeekOrigin::End, &at), winerr::kNegativeSeek);
    ASSERT_EQ(file->Seek(2, SeekOrigin::End, &at), winerr::kSuccess);
    ASSERT_EQ(file->Write("x", 1, &count), winerr::kSuccess);
    EXPECT_EQ(file->Close(), winerr::kSuccess);
    // Appending as the log writers do: open always, then write at the end.
    ASSERT_EQ(Open(path, kGenericWrite, kShareRead, &file, Disposition::OpenAlways), 0);
    ASSERT_EQ(file->Seek(0, SeekOrigin::End, &at), winerr::kSuccess);
    ASSERT_EQ(file->Write("\r\nnext", 6, &count), winerr::kSuccess);
    file.reset();
    std::vector<uint8_t> content;
    ASSERT_EQ(ReadWholeFile(path.c_str(), 1u << 20, &content), winerr::kSuccess);
    EXPECT_EQ(std::string(content.begin(), content.end()), std::string("hello!!\0\0x\r\nnext", 16));
}

}  // namespace
}  // namespace korva::platform
