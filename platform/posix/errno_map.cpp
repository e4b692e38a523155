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
        case ENOEXEC:
            return winerr::kBadExeFormat;
        case ENOMEM:
            return winerr::kNotEnoughMemory;
        case EMFILE:
        case ENFILE:
            return 4;  // ERROR_TOO_MANY_OPEN_FILES
        case EROFS:
            return 19;  // ERROR_WRITE_PROTECT
        case EXDEV:
            return 17;  // ERROR_NOT_SAME_DEVICE
        case ETXTBSY:
            return winerr::kSharingViolation;
        case EEXIST:
            return winerr::kFileExists;
        case EINVAL:
            return winerr::kInvalidParameter;
        case ENOSPC:
            return winerr::kDiskFull;
        case EDQUOT:
            return 1295;  // ERROR_DISK_QUOTA_EXCEEDED
        case EFBIG:
            return winerr::kFileTooLarge;
        case ENAMETOOLONG:
            return 206;  // ERROR_FILENAME_EXCED_RANGE
        case ENOTEMPTY:
            return 145;  // ERROR_DIR_NOT_EMPTY
        case EBUSY:
            return 170;  // ERROR_BUSY
        case ELOOP:
            return 1921;  // ERROR_CANT_RESOLVE_FILENAME
        case EILSEQ:
            return winerr::kNoUnicodeTranslation;
        case ENOSYS:
        case EOPNOTSUPP:
            return winerr::kNotSupported;
        case EIO:
            return 1117;  // ERROR_IO_DEVICE
        default:
            return winerr::kGenFailure;
    }
}

}  // namespace korva::platform::os
