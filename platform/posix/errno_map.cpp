#include "platform/posix/errno_map.h"

#include <cerrno>

#include "platform/result_codes.h"

namespace korva::platform::os {

int32_t WinErrorFromErrno(int error) {
    switch (error) {
        case 0:
            return winerr::kSuccess;
        case ENOENT:
            return winerr::kFileNotFound;
        case ENOTDIR:
            return winerr::kPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return winerr::kAccessDenied;
        case EBADF:
            return winerr::kInvalidHandle;
        case ENOMEM:
            return winerr::kNotEnoughMemory;
        case EMFILE:
        case ENFILE:
            return winerr::kTooManyOpenFiles;
        case EROFS:
            return winerr::kWriteProtect;
        case EXDEV:
            return winerr::kNotSameDevice;
        case ETXTBSY:
            return winerr::kSharingViolation;
        case EEXIST:
            return winerr::kFileExists;
        case EINVAL:
            return winerr::kInvalidParameter;
        case ENOSPC:
            return winerr::kDiskFull;
        case EDQUOT:
            return winerr::kDiskQuotaExceeded;
        case EFBIG:
            return winerr::kFileTooLarge;
        case ENAMETOOLONG:
            return winerr::kFilenameExcedRange;
        case ENOTEMPTY:
            return winerr::kDirNotEmpty;
        case EBUSY:
            return winerr::kBusy;
        case ELOOP:
            return winerr::kCantResolveFilename;
        case EILSEQ:
            return winerr::kNoUnicodeTranslation;
        case ENOSYS:
        case EOPNOTSUPP:
            return winerr::kNotSupported;
        case EIO:
            return winerr::kIoDevice;
        default:
            return winerr::kGenFailure;
    }
}

}  // namespace korva::platform::os
