// The file seam's plumbing and the helpers built on it.
#include "platform/files.h"

#include <algorithm>
#include <new>

#include "platform/os_defaults.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

// Reads and writes go in pieces that fit the seam's 32-bit sizes.
constexpr uint32_t kChunk = 1u << 30;

bool IsSeparator(WChar c) {
#if defined(_WIN32)
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

}  // namespace

FileSystem& Files() {
    FileSystem* replacement = ScopedFileSystemOverride::Installed();
    return replacement != nullptr ? *replacement : os::DefaultFileSystem();
}

int32_t ReadWholeFile(const WChar* path, uint64_t maxBytes, std::vector<uint8_t>* content) {
    if (content == nullptr) {
        return winerr::kInvalidParameter;
    }
    content->clear();
    std::unique_ptr<File> file;
    // Others may go on reading and writing: a log file can be read while its writer has it open.
    int32_t result =
        Files().Open(path, kGenericRead, kShareRead | kShareWrite, Disposition::OpenExisting, &file);
    if (result != winerr::kSuccess) {
        return result;
    }
    uint64_t size = 0;
    result = file->GetSize(&size);
    if (result != winerr::kSuccess) {
        return result;
    }
    // The size is checked before anything is allocated: a huge file costs one refusal, not its memory.
    if (size > maxBytes) {
        return winerr::kFileTooLarge;
    }
    if (size > content->max_size()) {
        return winerr::kNotEnoughMemory;
    }
    try {
        content->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return winerr::kNotEnoughMemory;
    }
    size_t done = 0;
    while (done < content->size()) {
        const uint32_t want = static_cast<uint32_t>(std::min<size_t>(kChunk, content->size() - done));
        uint32_t got = 0;
        result = file->Read(content->data() + done, want, &got);
        if (result != winerr::kSuccess) {
            content->clear();
            return result;
        }
        if (got == 0) {
            break;  // the file shrank while it was read
        }
        done += got;
    }
    content->resize(done);
    result = file->Close();
    if (result != winerr::kSuccess) {
        content->clear();
    }
    return result;
}

int32_t WriteWholeFile(const WChar* path, const void* data, size_t size) {
    if (data == nullptr && size != 0) {
        return winerr::kInvalidParameter;
    }
    std::unique_ptr<File> file;
    int32_t result = Files().Open(path, kGenericWrite, kShareRead, Disposition::CreateAlways, &file);
    if (result != winerr::kSuccess) {
        return result;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const uint32_t want = static_cast<uint32_t>(std::min<size_t>(kChunk, size - done));
        uint32_t written = 0;
        result = file->Write(bytes + done, want, &written);
        if (result != winerr::kSuccess) {
            return result;
        }
        if (written == 0) {
            return winerr::kWriteFault;
        }
        done += written;
    }
    return file->Close();
}

WChar PathSeparator() {
#if defined(_WIN32)
    return u'\\';
#else
    return u'/';
#endif
}

WString JoinPath(WStringView folder, WStringView name) {
    WString joined(folder);
    if (!joined.empty() && !IsSeparator(joined.back())) {
        joined += PathSeparator();
    }
    // A name that starts with a separator does not double it.
    while (!joined.empty() && !name.empty() && IsSeparator(name.front())) {
        name.remove_prefix(1);
    }
    joined += name;
    return joined;
}

}  // namespace korva::platform
