// Files on Linux: POSIX descriptors behind CreateFileW's contract. Windows refuses an open whose access
// conflicts with another open's share mode; POSIX has no such rule, so this process keeps a table of its own
// opens (by device and inode) and enforces the share modes among them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/os_defaults.h"
#include "platform/posix/errno_map.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

constexpr uint32_t kFileReadData = 0x0001;
constexpr uint32_t kFileWriteData = 0x0002;
constexpr uint32_t kFileAppendData = 0x0004;
constexpr uint32_t kDeleteAccess = 0x00010000;

// Access reduced to the three kinds share modes guard; the bits line up with kShareRead/Write/Delete.
constexpr uint32_t kWantRead = kShareRead;
constexpr uint32_t kWantWrite = kShareWrite;
constexpr uint32_t kWantDelete = kShareDelete;

uint32_t ShareRelevantAccess(uint32_t access) {
    uint32_t wants = 0;
    if ((access & (kGenericRead | kGenericAll | kFileReadData)) != 0) {
        wants |= kWantRead;
    }
    if ((access & (kGenericWrite | kGenericAll | kFileWriteData | kFileAppendData)) != 0) {
        wants |= kWantWrite;
    }
    if ((access & (kGenericAll | kDeleteAccess)) != 0) {
        wants |= kWantDelete;
    }
    return wants;
}

using FileId = std::pair<dev_t, ino_t>;

struct OpenRecord {
    uint64_t id;
    uint32_t wants;
    uint32_t share;
};

// Every open file of this process, by identity.
class ShareTable {
  public:
    std::mutex mutex;

    // Windows' rule: the new open's access must be shared by every existing open, and every existing open's
    // access must be shared by the new one. An open without read, write or delete access takes no part.
    bool Conflicts(const FileId& file, uint32_t wants, uint32_t share) const {
        const auto found = opens_.find(file);
        if (wants == 0 || found == opens_.end()) {
            return false;
        }
        for (const OpenRecord& open : found->second) {
            if (open.wants != 0 && ((wants & ~open.share) != 0 || (open.wants & ~share) != 0)) {
                return true;
            }
        }
        return false;
    }

    uint64_t Add(const FileId& file, uint32_t wants, uint32_t share) {
        const uint64_t id = nextId_++;
        opens_[file].push_back(OpenRecord{id, wants, share});
        return id;
    }

    void Remove(const FileId& file, uint64_t id) {
        const auto found = opens_.find(file);
        if (found == opens_.end()) {
            return;
        }
        std::erase_if(found->second, [id](const OpenRecord& open) { return open.id == id; });
        if (found->second.empty()) {
            opens_.erase(found);
        }
    }

  private:
    std::map<FileId, std::vector<OpenRecord>> opens_;
    uint64_t nextId_ = 1;
};

ShareTable& Shares() {
    static ShareTable* const table = new ShareTable();
    return *table;
}

// ENOENT means ERROR_FILE_NOT_FOUND when the folder exists and ERROR_PATH_NOT_FOUND when it does not.
int32_t NotFoundError(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return winerr::kFileNotFound;
    }
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        return winerr::kFileNotFound;
    }
    return winerr::kPathNotFound;
}

int32_t PathError(int error, const std::string& path) {
    return error == ENOENT ? NotFoundError(path) : os::WinErrorFromErrno(error);
}

class PosixFile final : public File {
  public:
    PosixFile(int fd, FileId file, uint64_t openId, uint32_t wants)
        : fd_(fd), file_(file), openId_(openId), wants_(wants) {}
    ~PosixFile() override { (void)Close(); }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    int32_t Read(void* buffer, uint32_t size, uint32_t* read) override {
        if (read != nullptr) {
            *read = 0;
        }
        if (fd_ < 0) {
            return winerr::kInvalidHandle;
        }
        if ((wants_ & kWantRead) == 0) {
            return winerr::kAccessDenied;
        }
        if (buffer == nullptr && size != 0) {
            return winerr::kInvalidParameter;
        }
        uint32_t done = 0;
        while (done < size) {
            const ssize_t got = ::read(fd_, static_cast<uint8_t*>(buffer) + done, size - done);
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return os::WinErrorFromErrno(errno);
            }
            if (got == 0) {
                break;  // end of file: a short read, as ReadFile reports it
            }
            done += static_cast<uint32_t>(got);
        }
        if (read != nullptr) {
            *read = done;
        }
        return winerr::kSuccess;
    }

    int32_t Write(const void* data, uint32_t size, uint32_t* written) override {
        if (written != nullptr) {
            *written = 0;
        }
        if (fd_ < 0) {
            return winerr::kInvalidHandle;
        }
        if ((wants_ & kWantWrite) == 0) {
            return winerr::kAccessDenied;
        }
        if (data == nullptr && size != 0) {
            return winerr::kInvalidParameter;
        }
        uint32_t done = 0;
        while (done < size) {
            const ssize_t put = ::write(fd_, static_cast<const uint8_t*>(data) + done, size - done);
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                if (written != nullptr) {
                    *written = done;
                }
                return os::WinErrorFromErrno(errno);
            }
            done += static_cast<uint32_t>(put);
        }
        if (written != nullptr) {
            *written = done;
        }
        return winerr::kSuccess;
    }

    int32_t GetSize(uint64_t* size) override {
        if (fd_ < 0) {
            return winerr::kInvalidHandle;
        }
        if (size == nullptr) {
            return winerr::kInvalidParameter;
        }
        struct stat info {};
        if (fstat(fd_, &info) != 0) {
            return os::WinErrorFromErrno(errno);
        }
        *size = static_cast<uint64_t>(info.st_size);
        return winerr::kSuccess;
    }

    int32_t Seek(int64_t offset, SeekOrigin origin, uint64_t* newPosition) override {
        if (fd_ < 0) {
            return winerr::kInvalidHandle;
        }
        int whence = SEEK_SET;
        switch (origin) {
            case SeekOrigin::Begin:
                whence = SEEK_SET;
                break;
            case SeekOrigin::Current:
                whence = SEEK_CUR;
                break;
            case SeekOrigin::End:
                whence = SEEK_END;
                break;
            default:
                return winerr::kInvalidParameter;
        }
        const off_t position = lseek(fd_, static_cast<off_t>(offset), whence);
        if (position < 0) {
            // The only EINVAL left with a valid origin is a position before the start.
            return errno == EINVAL ? winerr::kNegativeSeek : os::WinErrorFromErrno(errno);
        }
        if (newPosition != nullptr) {
            *newPosition = static_cast<uint64_t>(position);
        }
        return winerr::kSuccess;
    }

    int32_t SetEnd() override {
        if (fd_ < 0) {
            return winerr::kInvalidHandle;
        }
        if ((wants_ & kWantWrite) == 0) {
            return winerr::kAccessDenied;
        }
        const off_t position = lseek(fd_, 0, SEEK_CUR);
        if (position < 0 || ftruncate(fd_, position) != 0) {
            return os::WinErrorFromErrno(errno);
        }
        return winerr::kSuccess;
    }

    int32_t Close() override {
        if (fd_ < 0) {
            return winerr::kInvalidHandle;
        }
        {
            std::lock_guard<std::mutex> lock(Shares().mutex);
            Shares().Remove(file_, openId_);
        }
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && errno != EINTR) {
            return os::WinErrorFromErrno(errno);
        }
        return winerr::kSuccess;
    }

  private:
    int fd_;
    FileId file_;
    uint64_t openId_;
    uint32_t wants_;
};

int32_t RemoveTree(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return PathError(errno, path);
    }
    if (!S_ISDIR(info.st_mode)) {
        return unlink(path.c_str()) == 0 ? winerr::kSuccess : PathError(errno, path);
    }
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) {
        return PathError(errno, path);
    }
    int32_t result = winerr::kSuccess;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        const int32_t childResult = RemoveTree(path + "/" + name);
        if (result == winerr::kSuccess) {
            result = childResult;
        }
    }
    closedir(folder);
    if (result != winerr::kSuccess) {
        return result;
    }
    return rmdir(path.c_str()) == 0 ? winerr::kSuccess : PathError(errno, path);
}

class PosixFileSystem final : public FileSystem {
  public:
    int32_t Open(const WChar* path, uint32_t access, uint32_t share, Disposition disposition,
                 std::unique_ptr<File>* out) override {
        if (out == nullptr) {
            return winerr::kInvalidParameter;
        }
        out->reset();
        if (path == nullptr || (share & ~(kShareRead | kShareWrite | kShareDelete)) != 0) {
            return winerr::kInvalidParameter;
        }
        if (path[0] == 0) {
            return winerr::kPathNotFound;
        }
        const uint32_t wants = ShareRelevantAccess(access);
        int flags = O_CLOEXEC;
        bool truncate = false;
        switch (disposition) {
            case Disposition::CreateNew:
                flags |= O_CREAT | O_EXCL;
                break;
            case Disposition::CreateAlways:
                flags |= O_CREAT;
                truncate = true;
                break;
            case Disposition::OpenExisting:
                break;
            case Disposition::OpenAlways:
                flags |= O_CREAT;
                break;
            case Disposition::TruncateExisting:
                // CreateFileW requires write access to truncate.
                if ((wants & kWantWrite) == 0) {
                    return winerr::kInvalidParameter;
                }
                truncate = true;
                break;
            default:
                return winerr::kInvalidParameter;
        }
        // Truncating needs a writable descriptor even when the caller only reads; writes through the handle
        // are still refused by the access check in PosixFile.
        if ((wants & kWantWrite) != 0 || truncate) {
            flags |= (wants & kWantRead) != 0 || truncate ? O_RDWR : O_WRONLY;
        } else {
            flags |= O_RDONLY;
        }
        const std::string utf8 = Utf16ToUtf8(path);

        std::lock_guard<std::mutex> lock(Shares().mutex);
        const int fd = ::open(utf8.c_str(), flags, 0666);
        if (fd < 0) {
            // Opening a folder for writing gives EISDIR; CreateFileW says access denied.
            return PathError(errno, utf8);
        }
        struct stat info {};
        if (fstat(fd, &info) != 0) {
            const int error = errno;
            ::close(fd);
            return os::WinErrorFromErrno(error);
        }
        if (S_ISDIR(info.st_mode)) {
            ::close(fd);
            return winerr::kAccessDenied;
        }
        const FileId file{info.st_dev, info.st_ino};
        if (Shares().Conflicts(file, wants, share)) {
            ::close(fd);
            return winerr::kSharingViolation;
        }
        if (truncate && info.st_size != 0 && ftruncate(fd, 0) != 0) {
            const int error = errno;
            ::close(fd);
            return os::WinErrorFromErrno(error);
        }
        const uint64_t openId = Shares().Add(file, wants, share);
        *out = std::make_unique<PosixFile>(fd, file, openId, wants);
        return winerr::kSuccess;
    }

    int32_t Delete(const WChar* path) override {
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        if (path[0] == 0) {
            return winerr::kPathNotFound;
        }
        const std::string utf8 = Utf16ToUtf8(path);
        std::lock_guard<std::mutex> lock(Shares().mutex);
        struct stat info {};
        if (lstat(utf8.c_str(), &info) != 0) {
            return PathError(errno, utf8);
        }
        if (S_ISDIR(info.st_mode)) {
            return winerr::kAccessDenied;  // DeleteFileW on a folder
        }
        // Deleting is an open for delete access: every open of the file must share delete.
        if (Shares().Conflicts(FileId{info.st_dev, info.st_ino}, kWantDelete,
                               kShareRead | kShareWrite | kShareDelete)) {
            return winerr::kSharingViolation;
        }
        if (unlink(utf8.c_str()) != 0) {
            return PathError(errno, utf8);
        }
        return winerr::kSuccess;
    }

    int32_t MakeTempDirectory(WString* path) override {
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        const char* base = std::getenv("TMPDIR");
        std::string pattern = base != nullptr && base[0] != 0 ? base : "/tmp";
        if (pattern.back() != '/') {
            pattern += '/';
        }
        pattern += "korva-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            return PathError(errno, pattern);
        }
        *path = Utf8ToUtf16(pattern);
        return winerr::kSuccess;
    }

    int32_t RemoveDirectoryTree(const WChar* path) override {
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        if (path[0] == 0) {
            return winerr::kPathNotFound;
        }
        const std::string utf8 = Utf16ToUtf8(path);
        struct stat info {};
        if (lstat(utf8.c_str(), &info) != 0) {
            return PathError(errno, utf8);
        }
        if (!S_ISDIR(info.st_mode)) {
            return winerr::kDirectory;
        }
        return RemoveTree(utf8);
    }
};

}  // namespace

namespace os {

FileSystem& DefaultFileSystem() {
    static PosixFileSystem* const files = new PosixFileSystem();
    return *files;
}

}  // namespace os

}  // namespace korva::platform
