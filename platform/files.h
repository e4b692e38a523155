// The file seam: CreateFileW-style opening with access, share modes and dispositions; 64-bit sizes and seeks.
// Windows: kernel32. Linux: POSIX descriptors, with the share modes enforced among this process's own opens
// (a file opened without write sharing cannot be opened for writing again until closed) — which is what
// the system relies on: its own log writers excluding each other.
//
// Errors as Windows gives them on both builds: 2 for a missing file, 3 for a missing folder on the way, 80
// for CreateNew on an existing file, 32 for a share-mode conflict (deleting a file that is open without
// delete sharing included), 5 for a folder opened as a file or a read or write the handle's access does not
// allow, 87 for TruncateExisting without write access, 131 for a seek before the start, 6 after Close.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/seam.h"
#include "platform/text.h"

namespace korva::platform {

constexpr uint32_t kGenericRead = 0x80000000u;
constexpr uint32_t kGenericWrite = 0x40000000u;
constexpr uint32_t kGenericAll = 0x10000000u;  // full access
constexpr uint32_t kShareNone = 0;
constexpr uint32_t kShareRead = 1;
constexpr uint32_t kShareWrite = 2;
constexpr uint32_t kShareDelete = 4;

enum class Disposition : uint32_t {
    CreateNew = 1,
    CreateAlways = 2,
    OpenExisting = 3,
    OpenAlways = 4,
    TruncateExisting = 5,
};

enum class SeekOrigin : uint32_t { Begin = 0, Current = 1, End = 2 };

class File {
  public:
    virtual ~File() = default;  // closes if still open
    [[nodiscard]] virtual int32_t Read(void* buffer, uint32_t size, uint32_t* read) = 0;
    [[nodiscard]] virtual int32_t Write(const void* data, uint32_t size, uint32_t* written) = 0;
    [[nodiscard]] virtual int32_t GetSize(uint64_t* size) = 0;
    [[nodiscard]] virtual int32_t Seek(int64_t offset, SeekOrigin origin, uint64_t* newPosition) = 0;
    // SetEndOfFile at the current position.
    [[nodiscard]] virtual int32_t SetEnd() = 0;
    [[nodiscard]] virtual int32_t Close() = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // CreateFileW. On success *out holds the open file; on failure a Windows error code and *out is empty.
    [[nodiscard]] virtual int32_t Open(const WChar* path, uint32_t access, uint32_t share,
                                       Disposition disposition, std::unique_ptr<File>* out) = 0;
    [[nodiscard]] virtual int32_t Delete(const WChar* path) = 0;
    // A new empty folder under the system's temporary folder, for tests and tools.
    [[nodiscard]] virtual int32_t MakeTempDirectory(WString* path) = 0;
    [[nodiscard]] virtual int32_t RemoveDirectoryTree(const WChar* path) = 0;
};

FileSystem& Files();

using ScopedFileSystemOverride = ScopedOverride<FileSystem>;

// Convenience built on the seam. ReadWholeFile: the whole content of a file of at most `maxBytes` bytes;
// ERROR_FILE_TOO_LARGE for a larger one (nothing is read), else 0 or the Windows error of the failed open, size,
// read or close, with `content` empty on any failure. A file that shrinks while it is read gives what was left.
[[nodiscard]] int32_t ReadWholeFile(const WChar* path, uint64_t maxBytes, std::vector<uint8_t>* content);
[[nodiscard]] int32_t WriteWholeFile(const WChar* path, const void* data, size_t size);

// The path separator of the platform ('\\' on Windows, '/' elsewhere) and a join of two path parts.
WChar PathSeparator();
WString JoinPath(WStringView folder, WStringView name);

}  // namespace korva::platform
