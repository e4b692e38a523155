// Windows' English message texts for the error codes this system can meet, for the Linux build. Each ends
// with the CR LF that FormatMessageW leaves at the end of a system message, so callers strip line breaks the
// same way on both builds.
#include "platform/os_defaults.h"

namespace korva::platform {
namespace {

struct MessageRow {
    uint32_t code;
    const char* text;
};

constexpr MessageRow kMessages[] = {
    {0, "The operation completed successfully."},
    {1, "Incorrect function."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {14, "Not enough memory resources are available to complete this operation."},
    {17, "The system cannot move the file to a different disk drive."},
    {19, "The media is write protected."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {38, "Reached the end of the file."},
    {50, "The request is not supported."},
    {53, "The network path was not found."},
    {67, "The network name cannot be found."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {120, "This function is not supported on this system."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {131, "An attempt was made to move the file pointer before the beginning of the file."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {170, "The requested resource is in use."},
    {183, "Cannot create a file when that file already exists."},
    {206, "The filename or extension is too long."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1113, "No mapping for the Unicode character exists in the target multi-byte code page."},
    {1168, "Element not found."},
    {1317, "The specified account does not exist."},
    {1323, "Unable to update the password. The value provided as the current password is incorrect."},
    {1324,
     "Unable to update the password. The value provided for the new password contains values that are not "
     "allowed in passwords."},
    {1325,
     "Unable to update the password. The value provided for the new password does not meet the length, "
     "complexity, or history requirements of the domain."},
    {1326, "The user name or password is incorrect."},
    {1332, "No mapping between account names and security IDs was done."},
    {1355, "The specified domain either does not exist or could not be contacted."},
    {1722, "The RPC server is unavailable."},
    {1908, "Could not find the domain controller for this domain."},
    {2221, "The user name could not be found."},
    {2453, "Could not find domain controller for this domain."},
    {8453, "Replication access was denied."},
};

class PosixSystemMessages final : public SystemMessages {
  public:
    WString Text(uint32_t code) override {
        for (const MessageRow& row : kMessages) {
            if (row.code == code) {
                return AsciiToWide(row.text) + KW("\r\n");
            }
        }
        return WString();
    }
};

}  // namespace

namespace os {

SystemMessages& DefaultSystemMessages() {
    static PosixSystemMessages* const messages = new PosixSystemMessages();
    return *messages;
}

}  // namespace os

}  // namespace korva::platform
