#include "platform/files.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/result_codes.h"
#include "tests/support/result_assert.h"

namespace korva::platform {
namespace {

constexpr uint32_t kReadWrite = kGenericRead | kGenericWrite;
constexpr uint32_t kShareAll = kShareRead | kShareWrite | kShareDelete;

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_OK(Files().MakeTempDirectory(&folder_)); }
    void TearDown() override { EXPECT_OK(Files().RemoveDirectoryTree(folder_.c_str())); }

    static int32_t Open(const WString& path, uint32_t access, uint32_t share, std::unique_ptr<File>* file,
                        Disposition disposition = Disposition::OpenExisting) {
        return Files().Open(path.c_str(), access, share, disposition, file);
    }

    WString folder_;
};

TEST_F(FilesTest, ShareModesDecideWhetherASecondOpenSucceeds) {
    // first access and share, second access and share, the second open's result
    const std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, int32_t> kCases[] = {
        {kGenericRead, kShareRead, kGenericRead, kShareRead, winerr::kSuccess},
        {kGenericRead, kShareRead, kGenericWrite, kShareAll, winerr::kSharingViolation},
        {kGenericWrite, kShareNone, kGenericRead, kShareAll, winerr::kSharingViolation},
        {kGenericWrite, kShareRead, kGenericRead, kShareRead, winerr::kSharingViolation},
        {kGenericWrite, kShareRead, kGenericRead, kShareWrite, winerr::kSuccess},
        {kGenericWrite, kShareRead | kShareWrite, kGenericWrite, kShareRead | kShareWrite, winerr::kSuccess},
        {kReadWrite, kShareRead, kReadWrite, kShareRead, winerr::kSharingViolation},
        {kGenericRead, kShareRead | kShareWrite, kGenericAll, kShareAll, winerr::kSharingViolation},
        {0, kShareNone, kGenericRead, kShareNone, winerr::kSuccess},  // no access takes no part in sharing
        {kGenericWrite, kShareNone, 0, kShareNone, winerr::kSuccess},
        {0x0001, kShareNone, kGenericRead, kShareAll, winerr::kSharingViolation},   // FILE_READ_DATA
        {0x0004, kShareRead, kGenericRead, kShareRead, winerr::kSharingViolation},  // FILE_APPEND_DATA
    };
    const WString path = JoinPath(folder_, KW("shared.txt"));
    ASSERT_OK(WriteWholeFile(path.c_str(), "data", 4));
    for (const auto& [firstAccess, firstShare, secondAccess, secondShare, result] : kCases) {
        SCOPED_TRACE(::testing::Message() << firstAccess << " " << firstShare << " " << secondAccess);
        std::unique_ptr<File> first;
        std::unique_ptr<File> second;
        ASSERT_OK(Open(path, firstAccess, firstShare, &first));
        EXPECT_EQ(Open(path, secondAccess, secondShare, &second), result);
        EXPECT_EQ(second != nullptr, result == winerr::kSuccess);
        first.reset();
        second.reset();
        EXPECT_OK(Open(path, secondAccess, secondShare, &second));
    }
}

TEST_F(FilesTest, DispositionsOnExistingAndMissingFiles) {
    // disposition, whether the file exists, the result, the size after opening
    const std::tuple<Disposition, bool, int32_t, uint64_t> kCases[] = {
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
    const WChar emoji[] = {0xD83D, 0xDE00, u'-', 0};
    const WString kPrefixes[] = {KW("\u00DC\u00E4-"), KW("\u65E5\u672C-"), emoji};
    int row = 0;
    for (const auto& [disposition, exists, result, sizeAfter] : kCases) {
        SCOPED_TRACE(row);
        const WString name = kPrefixes[row % 3] + AsciiToWide(std::to_string(row / 3));
        ++row;
        const WString path = JoinPath(folder_, name);
        ASSERT_OK(exists ? WriteWholeFile(path.c_str(), "12345", 5) : winerr::kSuccess);
        std::unique_ptr<File> file;
        ASSERT_EQ(Open(path, kReadWrite, kShareRead, &file, disposition), result);
        uint64_t size = 99;
        EXPECT_TRUE(result != 0 ? file == nullptr : file->GetSize(&size) == 0 && size == sizeAfter);
    }
}

TEST_F(FilesTest, SeekSizeTruncateAndAppend) {
    const WString path = JoinPath(folder_, KW("log.txt"));
    std::unique_ptr<File> file;
    ASSERT_OK(Open(path, kReadWrite, kShareRead, &file, Disposition::CreateAlways));
    uint32_t count = 0;
    uint64_t at = 0;
    ASSERT_OK(file->Write("hello world", 11, &count));
    ASSERT_OK(file->Seek(5, SeekOrigin::Begin, &at));
    ASSERT_OK(file->SetEnd());
    ASSERT_OK(file->Seek(0, SeekOrigin::End, &at));
    ASSERT_OK(file->Write("!!", 2, &count));
    ASSERT_OK(file->Seek(-3, SeekOrigin::Current, &at));
    EXPECT_EQ(at, 4u);
    char buffer[16] = {};
    ASSERT_OK(file->Read(buffer, sizeof(buffer), &count));
    EXPECT_EQ(std::string(buffer, count), "o!!");
    EXPECT_EQ(file->Seek(-8, SeekOrigin::End, &at), winerr::kNegativeSeek);
}

}  // namespace
}  // namespace korva::platform
