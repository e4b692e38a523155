// Files on Windows: thin wrappers over kernel32's file functions.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/os_defaults.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

int32_t LastError() {
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<int32_t>(error) : winerr::kGenFailure;
}

class Win32File final : public File {
  public:
    explicit Win32File(HANDLE handle) : handle_(handle) {}
    ~Win32File() override { (void)Close(); }
    Win32File(const Win32File&) = delete;
    Win32File& operator=(const Win32File&) = delete;

    int32_t Read(void* buffer, uint32_t size, uint32_t* read) override {
        DWORD done = 0;
        if (read != nullptr) {
            *read = 0;
        }
        if (handle_ == INVALID_HANDLE_VALUE) {
            return winerr::kInvalidHandle;
        }
        if (!ReadFile(handle_, buffer, size, &done, nullptr)) {
            return LastError();
        }
        if (read != nullptr) {
            *read = done;
        }
        return winerr::kSuccess;
    }

    int32_t Write(const void* data, uint32_t size, uint32_t* written) override {
        DWORD done = 0;
        if (written != nullptr) {
            *written = 0;
        }
        if (handle_ == INVALID_HANDLE_VALUE) {
            return winerr::kInvalidHandle;
        }
        const BOOL ok = WriteFile(handle_, data, size, &done, nullptr);
        const int32_t result = ok ? winerr::kSuccess : LastError();
        if (written != nullptr) {
            *written = done;
        }
        return result;
    }

    int32_t GetSize(uint64_t* size) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return winerr::kInvalidHandle;
        }
        if (size == nullptr) {
            return winerr::kInvalidParameter;
        }
        LARGE_INTEGER value{};
        if (!GetFileSizeEx(handle_, &value)) {
            return LastError();
        }
        *size = static_cast<uint64_t>(value.QuadPart);
        return winerr::kSuccess;
    }

    int32_t Seek(int64_t offset, SeekOrigin origin, uint64_t* newPosition) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return winerr::kInvalidHandle;
        }
        LARGE_INTEGER distance{};
        distance.QuadPart = offset;
        LARGE_INTEGER position{};
        if (!SetFilePointerEx(handle_, distance, &position, static_cast<DWORD>(origin))) {
            return LastError();
        }
        if (newPosition != nullptr) {
            *newPosition = static_cast<uint64_t>(position.QuadPart);
        }
        return winerr::kSuccess;
    }

    int32_t SetEnd() override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return winerr::kInvalidHandle;
        }
        return SetEndOfFile(handle_) ? winerr::kSuccess : LastError();
    }

    int32_t Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return winerr::kInvalidHandle;
        }
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) ? winerr::kSuccess : LastError();
    }

  private:
    HANDLE handle_;
};

int32_t RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return LastError();
    }
    int32_t result = winerr::kSuccess;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring child = path + L"\\" + name;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
            SetFileAttributesW(child.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        }
        int32_t childResult = winerr::kSuccess;
        const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        // A linked folder is removed as a link; what it points to is left alone.
        if (folder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            childResult = RemoveTree(child);
        } else if (folder) {
            childResult = RemoveDirectoryW(child.c_str()) ? winerr::kSuccess : LastError();
        } else {
            childResult = DeleteFileW(child.c_str()) ? winerr::kSuccess : LastError();
        }
        if (result == winerr::kSuccess) {
            result = childResult;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    if (result != winerr::kSuccess) {
        return result;
    }
    return RemoveDirectoryW(path.c_str()) ? winerr::kSuccess : LastError();
}

class Win32FileSystem final : public FileSystem {
  public:
    int32_t Open(const WChar* path, uint32_t access, uint32_t share, Disposition disposition,
                 std::unique_ptr<File>* out) override {
        if (out == nullptr) {
            return winerr::kInvalidParameter;
        }
        out->reset();
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        if (path[0] == 0) {
            return winerr::kPathNotFound;
        }
        // Windows refuses to truncate through a handle that cannot write; checked here so that both builds
        // answer the same.
        if (disposition == Disposition::TruncateExisting && (access & (kGenericWrite | kGenericAll)) == 0) {
            return winerr::kInvalidParameter;
        }
        const HANDLE handle = CreateFileW(path, access, share, nullptr, static_cast<DWORD>(disposition),
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return LastError();
        }
        *out = std::make_unique<Win32File>(handle);
        return winerr::kSuccess;
    }

    int32_t Delete(const WChar* path) override {
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        return DeleteFileW(path) ? winerr::kSuccess : LastError();
    }

    int32_t MakeTempDirectory(WString* path) override {
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        wchar_t base[MAX_PATH + 1] = {};
        const DWORD length = GetTempPathW(MAX_PATH + 1, base);
        if (length == 0 || length > MAX_PATH) {
            return LastError();
        }
        static std::atomic<uint32_t> counter{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::wstring candidate =
                std::wstring(base) + L"korva-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(counter.fetch_add(1));
            if (CreateDirectoryW(candidate.c_str(), nullptr)) {
                *path = candidate;
                return winerr::kSuccess;
            }
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                return LastError();
            }
        }
        return winerr::kAlreadyExists;
    }

    int32_t RemoveDirectoryTree(const WChar* path) override {
        if (path == nullptr) {
            return winerr::kInvalidParameter;
        }
        if (path[0] == 0) {
            return winerr::kPathNotFound;
        }
        const DWORD attributes = GetFileAttributesW(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            return LastError();
        }
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return ERROR_DIRECTORY;
        }
        std::wstring folder = path;
        while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/')) {
            folder.pop_back();
        }
        return RemoveTree(folder);
    }
};

}  // namespace

namespace os {

FileSystem& DefaultFileSystem() {
    static Win32FileSystem* const files = new Win32FileSystem();
    return *files;
}

}  // namespace os

}  // namespace korva::platform
