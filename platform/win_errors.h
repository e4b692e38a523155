// Windows error codes the system's portable code produces or tests for. Both builds use these numbers, so a
// result means the same thing whichever platform produced it.
#pragma once

#include <cstdint>

namespace korva::winerr {

constexpr int32_t kSuccess = 0;
constexpr int32_t kInvalidFunction = 1;
constexpr int32_t kFileNotFound = 2;
constexpr int32_t kPathNotFound = 3;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kInvalidHandle = 6;
constexpr int32_t kNotEnoughMemory = 8;
constexpr int32_t kOutOfMemory = 14;
constexpr int32_t kWriteFault = 29;
constexpr int32_t kReadFault = 30;
constexpr int32_t kGenFailure = 31;
constexpr int32_t kSharingViolation = 32;
constexpr int32_t kHandleEof = 38;
constexpr int32_t kNotSupported = 50;
constexpr int32_t kFileExists = 80;
constexpr int32_t kInvalidParameter = 87;
constexpr int32_t kDiskFull = 112;
constexpr int32_t kCallNotImplemented = 120;
constexpr int32_t kInsufficientBuffer = 122;
constexpr int32_t kInvalidName = 123;
constexpr int32_t kNegativeSeek = 131;
constexpr int32_t kAlreadyExists = 183;
constexpr int32_t kMoreData = 234;
constexpr int32_t kNoMoreItems = 259;
constexpr int32_t kNoUnicodeTranslation = 1113;
constexpr int32_t kNotFound = 1168;
constexpr int32_t kBadPathname = 161;
constexpr int32_t kKeyDeleted = 1018;
constexpr int32_t kBadDbFile = 1009;  // ERROR_BADDB: a registry file that cannot be read
constexpr int32_t kChildMustBeVolatile = 1021;
constexpr int32_t kWrongPassword = 1323;
constexpr int32_t kIllFormedPassword = 1324;
constexpr int32_t kPasswordRestriction = 1325;

}  // namespace korva::winerr
