// Every result code the system uses, in one place: Windows error codes, HRESULTs and the system's own negative
// codes. Operations return a 32-bit int: 0 is success, Windows errors and HRESULTs pass through unchanged, and
// the negative codes below are the system's own. Both builds use these numbers, so a result means the same
// thing whichever platform produced it. No other file defines a code or returns a bare number for one.
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
constexpr int32_t kInvalidData = 13;  // ERROR_INVALID_DATA: malformed input (an LDIF file)
constexpr int32_t kOutOfMemory = 14;
constexpr int32_t kWriteFault = 29;
constexpr int32_t kReadFault = 30;
constexpr int32_t kGenFailure = 31;
constexpr int32_t kSharingViolation = 32;
constexpr int32_t kHandleEof = 38;
constexpr int32_t kNotSupported = 50;
constexpr int32_t kBadNetpath = 53;
constexpr int32_t kFileExists = 80;
constexpr int32_t kInvalidParameter = 87;
constexpr int32_t kDiskFull = 112;
constexpr int32_t kCallNotImplemented = 120;
constexpr int32_t kInsufficientBuffer = 122;
constexpr int32_t kInvalidName = 123;
constexpr int32_t kNegativeSeek = 131;
constexpr int32_t kFileTooLarge = 223;
constexpr int32_t kAlreadyExists = 183;
constexpr int32_t kMoreData = 234;
constexpr int32_t kNoMoreItems = 259;
constexpr int32_t kBadExeFormat = 193;
constexpr int32_t kWaitTimeout = 258;  // WAIT_TIMEOUT: the wait ended before the object was signalled
constexpr int32_t kDirectory = 267;    // ERROR_DIRECTORY: the name is not a folder
constexpr int32_t kNoUnicodeTranslation = 1113;
constexpr int32_t kNotFound = 1168;
constexpr int32_t kBadPathname = 161;
constexpr int32_t kKeyDeleted = 1018;
constexpr int32_t kBadDbFile = 1009;  // ERROR_BADDB: a registry file that cannot be read
constexpr int32_t kChildMustBeVolatile = 1021;
constexpr int32_t kWrongPassword = 1323;
constexpr int32_t kIllFormedPassword = 1324;
constexpr int32_t kPasswordRestriction = 1325;
constexpr int32_t kNoneMapped = 1332;              // ERROR_NONE_MAPPED: no account or SID of that name
constexpr int32_t kInvalidSid = 1337;              // ERROR_INVALID_SID
constexpr int32_t kNoSuchDomain = 1355;            // ERROR_NO_SUCH_DOMAIN
constexpr int32_t kTimeout = 1460;                 // ERROR_TIMEOUT
constexpr int32_t kNerrSetupNotJoined = 2692;      // NERR_SetupNotJoined
constexpr int32_t kDnsErrorRcodeNameError = 9003;  // DNS_ERROR_RCODE_NAME_ERROR: no such DNS name
constexpr int32_t kDsNameErrorNotFound = 8459;     // ERROR_DS_NAME_ERROR_NOT_FOUND
constexpr int32_t kDsNoSuchObject = 8240;          // ERROR_DS_NO_SUCH_OBJECT
constexpr int32_t kLogonFailure = 1326;            // ERROR_LOGON_FAILURE: bad user name or password
constexpr int32_t kDsOperationsError = 8224;       // ERROR_DS_OPERATIONS_ERROR
constexpr int32_t kDsInvalidDnSyntax = 8242;       // ERROR_DS_INVALID_DN_SYNTAX
constexpr int32_t kDsServerDown = 8250;            // ERROR_DS_SERVER_DOWN: the server is not operational

// File-system conditions the Linux build maps errno values to.
constexpr int32_t kTooManyOpenFiles = 4;
constexpr int32_t kNotSameDevice = 17;
constexpr int32_t kWriteProtect = 19;
constexpr int32_t kDirNotEmpty = 145;
constexpr int32_t kBusy = 170;
constexpr int32_t kFilenameExcedRange = 206;
constexpr int32_t kIoDevice = 1117;
constexpr int32_t kDiskQuotaExceeded = 1295;
constexpr int32_t kCantResolveFilename = 1921;

}  // namespace korva::winerr

namespace korva {

// HRESULTs.
constexpr int32_t kSOk = 0;
constexpr int32_t kSFalse = 1;
constexpr int32_t kENotImpl = static_cast<int32_t>(0x80004001u);
constexpr int32_t kENoInterface = static_cast<int32_t>(0x80004002u);
constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003u);
constexpr int32_t kEAbort = static_cast<int32_t>(0x80004004u);
constexpr int32_t kEFail = static_cast<int32_t>(0x80004005u);
constexpr int32_t kEUnexpected = static_cast<int32_t>(0x8000FFFFu);
constexpr int32_t kEAccessDenied = static_cast<int32_t>(0x80070005u);
constexpr int32_t kEOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t kEInvalidArg = static_cast<int32_t>(0x80070057u);
constexpr int32_t kClassENoAggregation = static_cast<int32_t>(0x80040110u);
constexpr int32_t kClassEClassNotAvailable = static_cast<int32_t>(0x80040111u);
constexpr int32_t kRegdbEClassNotReg = static_cast<int32_t>(0x80040154u);
// CO_E_CLASSSTRING: a text that is not a CLSID in registry form.
constexpr int32_t kCoEClassString = static_cast<int32_t>(0x800401F3u);
// E_ADS_PROPERTY_NOT_FOUND: the attribute has no value on the object.
constexpr int32_t kEAdsPropertyNotFound = static_cast<int32_t>(0x8000500Du);
// E_ADS_CANT_CONVERT_DATATYPE: the value is not of the kind the caller can use.
constexpr int32_t kEAdsCantConvertDatatype = static_cast<int32_t>(0x80005008u);

// E_ADS_BAD_PATHNAME: an ADsPath that is not understood.
constexpr int32_t kEAdsBadPathname = static_cast<int32_t>(0x80005000u);
// HRESULT_FROM_WIN32(ERROR_DS_NO_SUCH_OBJECT): ADSI's answer for an LDAP path naming no object.
constexpr int32_t kEDsNoSuchObject = static_cast<int32_t>(0x80072030u);
// HRESULT_FROM_WIN32(ERROR_DS_NAME_ERROR_NOT_FOUND): NameTranslate's answer for a name it cannot find.
constexpr int32_t kEDsNameNotFound = static_cast<int32_t>(0x80072116u);

// HRESULT_FROM_WIN32: a Windows error code as an HRESULT (0 stays 0, values that already are HRESULTs stay).
constexpr int32_t HResultFromWin32(int32_t code) {
    return code <= 0 ? code : static_cast<int32_t>((static_cast<uint32_t>(code) & 0xFFFFu) | 0x80070000u);
}

// The system's own negative codes.
constexpr int32_t kRegistryWrongType = -1;    // a registry value of the wrong type
constexpr int32_t kResultRegexFailed = -1;    // a regular expression did not compile or hit its work limits
constexpr int32_t kDateTextUnavailable = -2;  // date text not available
constexpr int32_t kResultNoPolicyDocument = -3;
constexpr int32_t kResultPolicyListEmpty = -4;
constexpr int32_t kResultNoApplicablePolicy = -5;
constexpr int32_t kResultNameNotCracked = -6;   // a directory name could not be cracked
constexpr int32_t kResultUserNotBound = -7;     // the user object could not be bound
constexpr int32_t kResultExceptionCaught = -8;  // an exception was caught at the controller boundary
constexpr int32_t kResultInvalidValue = -11;    // missing required attribute, not a number, unknown rule type
constexpr int32_t kResultEmpty = -12;           // an element that must have content is empty or missing
constexpr int32_t kResultNullEntry = -16;       // a null entry in a list
constexpr int32_t kResultTimeConversion = -23;  // a directory time value could not be converted

}  // namespace korva

namespace korva {

// LDAP results. A server's result code passes through as the server sent it; the ones the system looks at by
// name are listed first. Failures on the client side get one set of numbers on both builds, the ones Windows'
// LDAP client uses (libldap's own negative codes are translated to them).
constexpr int32_t kLdapSuccess = 0;
constexpr int32_t kLdapOperationsError = 1;
constexpr int32_t kLdapProtocolError = 2;
constexpr int32_t kLdapTimeLimitExceeded = 3;
constexpr int32_t kLdapSizeLimitExceeded = 4;
constexpr int32_t kLdapAuthMethodNotSupported = 7;
constexpr int32_t kLdapStrongAuthRequired = 8;
constexpr int32_t kLdapReferral = 10;
constexpr int32_t kLdapNoSuchAttribute = 16;
constexpr int32_t kLdapUndefinedType = 17;
constexpr int32_t kLdapConstraintViolation = 19;
constexpr int32_t kLdapAttributeOrValueExists = 20;
constexpr int32_t kLdapInvalidSyntax = 21;
constexpr int32_t kLdapNoSuchObject = 32;
constexpr int32_t kLdapInvalidDnSyntax = 34;
constexpr int32_t kLdapInvalidCredentials = 49;
constexpr int32_t kLdapInsufficientRights = 50;
constexpr int32_t kLdapBusy = 51;
constexpr int32_t kLdapUnavailable = 52;
constexpr int32_t kLdapUnwillingToPerform = 53;
constexpr int32_t kLdapNamingViolation = 64;
constexpr int32_t kLdapObjectClassViolation = 65;
constexpr int32_t kLdapNotAllowedOnNonLeaf = 66;
constexpr int32_t kLdapAlreadyExists = 68;
constexpr int32_t kLdapOther = 80;
// Client side.
constexpr int32_t kLdapServerDown = 0x51;     // no connection, or the connection was lost
constexpr int32_t kLdapLocalError = 0x52;     // the client library failed
constexpr int32_t kLdapEncodingError = 0x53;  // a request could not be encoded
constexpr int32_t kLdapDecodingError = 0x54;  // an answer could not be decoded
constexpr int32_t kLdapTimeout = 0x55;        // a time limit or the call's budget ran out
constexpr int32_t kLdapAuthUnknown = 0x56;    // the bind method is not known to the client
constexpr int32_t kLdapFilterError = 0x57;    // the search filter could not be parsed
constexpr int32_t kLdapParamError = 0x59;     // bad arguments (an empty host, an unknown scope, ...)
constexpr int32_t kLdapNoMemory = 0x5a;       // out of memory
constexpr int32_t kLdapConnectError = 0x5b;   // a connection or the TLS handshake could not be made
constexpr int32_t kLdapNotSupported = 0x5c;   // the platform's client cannot do what was asked
constexpr int32_t kLdapNoResultsReturned = 0x5e;

}  // namespace korva
