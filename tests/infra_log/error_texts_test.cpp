#include <gtest/gtest.h>

#include <set>

#include "infra/error_texts.h"
#include "log_test_support.h"
#include "platform/system_messages.h"

namespace korva {
namespace {

using testing::W;

TEST(HResultTextTest, TableHoldsExactlyTheExpectedCodes) {
    const std::span<const HResultTextRow> table = HResultTextTable();
    EXPECT_EQ(263u, table.size());
    struct Range {
        uint32_t first, last;
    };
    const Range ranges[] = {
        {0x00005011, 0x00005013}, {0x00040EC0, 0x00040EC3}, {0x00040EC5, 0x00040EDD},
        {0x80000004, 0x8000000A}, {0x80004001, 0x8000402B}, {0x80004030, 0x80004033},
        {0x80005000, 0x80005010}, {0x80005014, 0x80005014}, {0x8000FFFF, 0x8000FFFF},
        {0x80040110, 0x80040112}, {0x80040150, 0x80040156}, {0x80040E00, 0x80040E65},
        {0x80040E67, 0x80040E79}, {0x80040E80, 0x80040E80}, {0x80040E8A, 0x80040E8E},
        {0x80040E90, 0x80040EA0}, {0x80070005, 0x80070006}, {0x8007000E, 0x8007000E},
        {0x80070057, 0x80070057},
    };
    std::set<uint32_t> expected;
    for (const Range& range : ranges) {
        for (uint32_t code = range.first; code <= range.last; ++code) {
            expected.insert(code);
        }
    }
    std::set<uint32_t> present;
    for (const HResultTextRow& row : table) {
        present.insert(row.code);
        EXPECT_NE(WString(KW("Unknown Error.")), HResultText(static_cast<int32_t>(row.code)))
            << std::hex << row.code;
        EXPECT_GT(WLen(row.text), 0u);
    }
    EXPECT_EQ(expected, present);
}

TEST(HResultTextTest, Texts) {
    struct Case {
        uint32_t code;
        const char* text;
    };
    const Case cases[] = {
        {0x80000004, "Interface not supported."},
        {0x80000005, "Invalid pointer."},
        {0x80000006, "Invalid handle."},
        {0x80000007, "Operation aborted."},
        {0x80000008, "Unspecified error."},
        {0x80000009, "General access denied error."},
        {0x8000000A, "The data necessary to complete this operation is not yet available."},
        {0x80004001, "Not Implemented."},
        {0x80004002, "Interface not supported."},
        {0x80004003, "Invalid pointer."},
        {0x80004004, "Operation aborted."},
        {0x80004005, "Unspecified error."},
        {0x80004006, "Thread local storage failure."},
        {0x8000FFFF, "Catastrophic failure."},
        {0x80070005, "General access denied error."},
        {0x80070006, "Invalid handle."},
        {0x8007000E, "Ran out of memory."},
        {0x80070057, "One or more arguments are invalid."},
        {0x80040154, "Class not registered."},
        {0x80040155, "Interface not registered."},
        {0x80005000,
         "An invalid ADSI pathname was passed. Verify that the object exists on the directory server and "
         "check for typographic errors of the path."},
        {0x80005001, "An unknown ADSI domain object was requested. Verify the path of the domain object."},
        {0x80005002,
         "An unknown ADSI user object was requested. Verify the existence of the user object, check for "
         "typos of the path and the user access rights."},
        {0x80005003,
         "An unknown ADSI computer object was requested. Verify the existence of the computer object, "
         "check for typos of the path and the computer access rights."},
        {0x80005004,
         "An unknown ADSI object was requested. Verify the name of and the access rights to the object."},
        {0x80005005, "The specified ADSI property was not set."},
        {0x80005006,
         "The specified ADSI property is not supported. Verify that the correct property is set."},
        {0x80005007,
         "The specified ADSI property is invalid Verify the parameters passed to the method call."},
        {0x80005008, "One or more input parameters are invalid."},
        {0x80005009,
         "The specified ADSI object is not bound to a remote resource. Call GetInfo on a newly created "
         "object after SetInfo has been called."},
        {0x8000500A, "The specified ADSI object has not been modified."},
        {0x8000500B, "The specified ADSI object has been modified."},
        {0x8000500C,
         "The data type cannot be converted to/from a native DS data type. Verify that the correct data "
         "type is used and/or that there is sufficient schema data available to perform data type "
         "conversion."},
        {0x8000500D,
         "The property cannot be found in the cache. Verify that GetInfo has been called implicitly or "
         "explicitly. If the attribute is an operational attribute, it must be explicitly retrieved with "
         "GetInfoEx instead of GetInfo. If the problem persists, the property has not been set on the "
         "server."},
        {0x8000500E, "The ADSI object exists. Use a different name to create the object."},
        {0x8000500F, "The attempted action violates the directory service schema rules."},
        {0x80005010, "The specified column in the ADSI was not set."},
        {0x80005014,
         "The specified search filter is invalid. Use the correct format of the filter accepted by the "
         "directory server."},
        {0x00005012, "The search operation has reached the last row. Move on to the rest of the program."},
        {0x80040E37, "Table does not exist."},
        {0x80004017, "A RunAs specification must be <domain name>\\<user name> or simply <user name>."},
        // Not in the table: success, the gaps between the ranges, and the neighbours of the ends.
        {0x00000000, "Unknown Error."},
        {0x00040EC4, "Unknown Error."},
        {0x80040E66, "Unknown Error."},
        {0x80040E7A, "Unknown Error."},
        {0x80040E81, "Unknown Error."},
        {0x80040E8F, "Unknown Error."},
        {0x80005011, "Unknown Error."},
        {0x00005010, "Unknown Error."},
        {0x80070058, "Unknown Error."},
        {0xFFFFFFFF, "Unknown Error."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(W(c.text), HResultText(static_cast<int32_t>(c.code))) << std::hex << c.code;
    }
}

TEST(CrackNameStatusTextTest, Texts) {
    const char* const expected[] = {
        "Unknown crack name error.",
        "A generic processing error occurred.",
        "The name cannot be found or the caller does not have permission to access the name.",
        "The input name is mapped to more than one output name or the desired format did not have a single, "
        "unique "
        "value for the object found.",
        "The input name was found, but the associated output format cannot be found. This can occur if the "
        "object "
        "does not have all the required attributes.",
        "Unable to resolve entire name, but was able to determine in which domain object resides. The caller "
        "is "
        "expected to retry the call at a domain controller for the specified domain. The entire name cannot "
        "be "
        "resolved, but the domain that the object resides in could be determined. The pDomain member of the "
        "DS_NAME_RESULT_ITEM contains valid data when this error is specified.",
        "A syntactical mapping cannot be performed on the client without transmitting over the network.",
        "The name is from an external trusted forest.",
        "Unknown crack name error.",
    };
    for (uint32_t status = 0; status < std::size(expected); ++status) {
        EXPECT_EQ(W(expected[status]), CrackNameStatusText(status)) << status;
    }
    EXPECT_EQ(W("Unknown crack name error."), CrackNameStatusText(0xFFFFFFFF));
}

TEST(SystemErrorTextTest, LineBreaksAreRemoved) {
    struct Messages final : platform::SystemMessages {
        WString Text(uint32_t code) override {
            switch (code) {
                case 1:
                    return W("One line.\r\n");
                case 2:
                    return W("First sentence.\r\nSecond\rsentence.\n");
                case 3:
                    return W("\r\n\r\n");
                default:
                    return WString();
            }
        }
    } messages;
    platform::ScopedSystemMessagesOverride messagesOverride(&messages);
    EXPECT_EQ(W("One line."), SystemErrorText(1));
    EXPECT_EQ(W("First sentence.Secondsentence."), SystemErrorText(2));
    EXPECT_EQ(WString(), SystemErrorText(3));
    EXPECT_EQ(WString(), SystemErrorText(4));
}

// The platform's own text (whatever its wording on this system) comes back on one line.
TEST(SystemErrorTextTest, PlatformTextIsOneLine) {
    const WString text = SystemErrorText(2);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(WString::npos, text.find_first_of(KW("\r\n")));
}

}  // namespace
}  // namespace korva
