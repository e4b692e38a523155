#include "infra/error_texts.h"

#include <algorithm>
#include <array>

#include "platform/system_messages.h"

namespace korva {
namespace {

// Texts of the codes the directory, COM and OLE DB layers can hand back to the policy engine. Sorted by code
// (unsigned), so that a lookup is a binary search; the static_asserts below keep it that way.
// clang-format off
constexpr std::array kHResultRows = std::to_array<HResultTextRow>({
    {0x00005011u, KW("During a query, one or more errors occurred. Verify that the search preference can be legally set and, if so, that it is properly set.")},
    {0x00005012u, KW("The search operation has reached the last row. Move on to the rest of the program.")},
    {0x00005013u, KW("The search operation has reached the last column for the current row. Move on to next row.")},
    {0x00040EC0u, KW("Fetching requested number of rows will exceed total number of active rows supported by the rowset.")},
    {0x00040EC1u, KW("One or more column types are incompatible. Conversion errors will occur during copying.")},
    {0x00040EC2u, KW("Parameter type information was overridden by caller.")},
    {0x00040EC3u, KW("Bookmark was skipped for deleted or nonmember row.")},
    {0x00040EC5u, KW("No more rowsets.")},
    {0x00040EC6u, KW("Start or end of rowset or chapter was reached.")},
    {0x00040EC7u, KW("Command was reexecuted.")},
    {0x00040EC8u, KW("Operation succeeded, but status array or string buffer could not be allocated.")},
    {0x00040EC9u, KW("No more results.")},
    {0x00040ECAu, KW("Server cannot release or downgrade a lock until the end of the transaction.")},
    {0x00040ECBu, KW("Weight is not supported or exceeded the supported limit, and was set to 0 or the supported limit.")},
    {0x00040ECCu, KW("Consumer does not want to receive further notification calls for this operation.")},
    {0x00040ECDu, KW("Input dialect was ignored and command was processed using default dialect.")},
    {0x00040ECEu, KW("Consumer does not want to receive further notification calls for this phase.")},
    {0x00040ECFu, KW("Consumer does not want to receive further notification calls for this reason.")},
    {0x00040ED0u, KW("Operation is being processed asynchronously.")},
    {0x00040ED1u, KW("Command was executed to reposition to the start of the rowset. Either the order of the columns changed, or columns were added to or removed from the rowset.")},
    {0x00040ED2u, KW("Method had some errors, which were returned in the error array.")},
    {0x00040ED3u, KW("Row handle is invalid.")},
    {0x00040ED4u, KW("Row handle referred to a deleted row.")},
    {0x00040ED5u, KW("Provider cannot keep track of all the changes. Client must refetch the data associated with the watch region by using another method.")},
    {0x00040ED6u, KW("Execution stopped because a resource limit was reached. Results obtained so far were returned, but execution cannot resume.")},
    {0x00040ED7u, KW("Row object was requested on a non-singleton result. First row was returned.")},
    {0x00040ED8u, KW("Lock was upgraded from the value specified.")},
    {0x00040ED9u, KW("One or more properties were changed as allowed by provider.")},
    {0x00040EDAu, KW("Multiple-step operation completed with one or more errors. Check each status value.")},
    {0x00040EDBu, KW("Parameter is invalid.")},
    {0x00040EDCu, KW("Updating a row caused more than one row to be updated in the data source.")},
    {0x00040EDDu, KW("Row has no row-specific columns.")},
    {0x80000004u, KW("Interface not supported.")},
    {0x80000005u, KW("Invalid pointer.")},
    {0x80000006u, KW("Invalid handle.")},
    {0x80000007u, KW("Operation aborted.")},
    {0x80000008u, KW("Unspecified error.")},
    {0x80000009u, KW("General access denied error.")},
    {0x8000000Au, KW("The data necessary to complete this operation is not yet available.")},
    {0x80004001u, KW("Not Implemented.")},
    {0x80004002u, KW("Interface not supported.")},
    {0x80004003u, KW("Invalid pointer.")},
    {0x80004004u, KW("Operation aborted.")},
    {0x80004005u, KW("Unspecified error.")},
    {0x80004006u, KW("Thread local storage failure.")},
    {0x80004007u, KW("Get shared memory allocator failure.")},
    {0x80004008u, KW("Get memory allocator failure.")},
    {0x80004009u, KW("Unable to initialize class cache.")},
    {0x8000400Au, KW("Unable to initialize remote procedure call (RPC) services.")},
    {0x8000400Bu, KW("Cannot set thread local storage channel control.")},
    {0x8000400Cu, KW("Could not allocate thread local storage channel control.")},
    {0x8000400Du, KW("The user-supplied memory allocator is unacceptable.")},
    {0x8000400Eu, KW("The OLE service mutex already exists.")},
    {0x8000400Fu, KW("The OLE service file mapping already exists.")},
    {0x80004010u, KW("Unable to map view of file for OLE service.")},
    {0x80004011u, KW("Failure attempting to launch OLE service.")},
    {0x80004012u, KW("There was an attempt to call CoInitialize a second time while single-threaded.")},
    {0x80004013u, KW("A Remote activation was necessary but was not allowed.")},
    {0x80004014u, KW("A Remote activation was necessary, but the server name provided was invalid.")},
    {0x80004015u, KW("The class is configured to run as a security ID different from the caller.")},
    {0x80004016u, KW("Use of OLE1 services requiring Dynamic Data Exchange (DDE) Windows is disabled.")},
    {0x80004017u, KW("A RunAs specification must be <domain name>\\<user name> or simply <user name>.")},
    {0x80004018u, KW("The server process could not be started. The path name might be incorrect.")},
    {0x80004019u, KW("The server process could not be started as the configured identity. The path name might be incorrect or unavailable.")},
    {0x8000401Au, KW("The server process could not be started because the configured identity is incorrect. Check the user name and password.")},
    {0x8000401Bu, KW("The client is not allowed to launch this server.")},
    {0x8000401Cu, KW("The service providing this server could not be started.")},
    {0x8000401Du, KW("This computer was unable to communicate with the computer providing the server.")},
    {0x8000401Eu, KW("The server did not respond after being launched.")},
    {0x8000401Fu, KW("The registration information for this server is inconsistent or incomplete.")},
    {0x80004020u, KW("The registration information for this interface is inconsistent or incomplete.")},
    {0x80004021u, KW("The operation attempted is not supported.")},
    {0x80004022u, KW("A DLL must be loaded.")},
    {0x80004023u, KW("A Microsoft Software Installer error was encountered.")},
    {0x80004024u, KW("The specified activation could not occur in the client context as specified.")},
    {0x80004025u, KW("Activations on the server are paused.")},
    {0x80004026u, KW("Activations on the server are not paused.")},
    {0x80004027u, KW("The component or application containing the component has been disabled.")},
    {0x80004028u, KW("The common language runtime is not available.")},
    {0x80004029u, KW("The thread-pool rejected the submitted asynchronous work.")},
    {0x8000402Au, KW("The server started, but it did not finish initializing in a timely fashion.")},
    {0x8000402Bu, KW("Unable to complete the call because there is no COM+ security context inside IObjectControl.Activate.")},
    {0x80004030u, KW("The provided tracker configuration is invalid.")},
    {0x80004031u, KW("The provided thread pool configuration is invalid.")},
    {0x80004032u, KW("The provided side-by-side configuration is invalid.")},
    {0x80004033u, KW("The server principal name (SPN) obtained during security negotiation is malformed.")},
    {0x80005000u, KW("An invalid ADSI pathname was passed. Verify that the object exists on the directory server and check for typographic errors of the path.")},
    {0x80005001u, KW("An unknown ADSI domain object was requested. Verify the path of the domain object.")},
    {0x80005002u, KW("An unknown ADSI user object was requested. Verify the existence of the user object, check for typos of the path and the user access rights.")},
    {0x80005003u, KW("An unknown ADSI computer object was requested. Verify the existence of the computer object, check for typos of the path and the computer access rights.")},
    {0x80005004u, KW("An unknown ADSI object was requested. Verify the name of and the access rights to the object.")},
    {0x80005005u, KW("The specified ADSI property was not set.")},
    {0x80005006u, KW("The specified ADSI property is not supported. Verify that the correct property is set.")},
    {0x80005007u, KW("The specified ADSI property is invalid Verify the parameters passed to the method call.")},
    {0x80005008u, KW("One or more input parameters are invalid.")},
    {0x80005009u, KW("The specified ADSI object is not bound to a remote resource. Call GetInfo on a newly created object after SetInfo has been called.")},
    {0x8000500Au, KW("The specified ADSI object has not been modified.")},
    {0x8000500Bu, KW("The specified ADSI object has been modified.")},
    {0x8000500Cu, KW("The data type cannot be converted to/from a native DS data type. Verify that the correct data type is used and/or that there is sufficient schema data available to perform data type conversion.")},
    {0x8000500Du, KW("The property cannot be found in the cache. Verify that GetInfo has been called implicitly or explicitly. If the attribute is an operational attribute, it must be explicitly retrieved with GetInfoEx instead of GetInfo. If the problem persists, the property has not been set on the server.")},
    {0x8000500Eu, KW("The ADSI object exists. Use a different name to create the object.")},
    {0x8000500Fu, KW("The attempted action violates the directory service schema rules.")},
    {0x80005010u, KW("The specified column in the ADSI was not set.")},
    {0x80005014u, KW("The specified search filter is invalid. Use the correct format of the filter accepted by the directory server.")},
    {0x8000FFFFu, KW("Catastrophic failure.")},
    {0x80040110u, KW("Class does not support aggregation (or class object is remote).")},
    {0x80040111u, KW("ClassFactory cannot supply requested class.")},
    {0x80040112u, KW("Class is not licensed for use.")},
    {0x80040150u, KW("Could not read key from registry.")},
    {0x80040151u, KW("Could not write key to registry.")},
    {0x80040152u, KW("Could not find the key in the registry.")},
    {0x80040153u, KW("Invalid value for registry.")},
    {0x80040154u, KW("Class not registered.")},
    {0x80040155u, KW("Interface not registered.")},
    {0x80040156u, KW("Threading model entry is not valid.")},
    {0x80040E00u, KW("Accessor is invalid.")},
    {0x80040E01u, KW("Row could not be inserted into the rowset without exceeding provider's maximum number of active rows.")},
    {0x80040E02u, KW("Accessor is read-only. Operation failed.")},
    {0x80040E03u, KW("Values violate the database schema.")},
    {0x80040E04u, KW("Row handle is invalid.")},
    {0x80040E05u, KW("Object was open.")},
    {0x80040E06u, KW("Chapter is invalid.")},
    {0x80040E07u, KW("Data or literal value could not be converted to the type of the column in the data source, and the provider was unable to determine which columns could not be converted. Data overflow or sign mismatch was not the cause.")},
    {0x80040E08u, KW("Binding information is invalid.")},
    {0x80040E09u, KW("Permission denied.")},
    {0x80040E0Au, KW("Column does not contain bookmarks or chapters.")},
    {0x80040E0Bu, KW("Cost limits were rejected.")},
    {0x80040E0Cu, KW("Command text was not set for the command object.")},
    {0x80040E0Du, KW("Query plan within the cost limit cannot be found.")},
    {0x80040E0Eu, KW("Bookmark is invalid.")},
    {0x80040E0Fu, KW("Lock mode is invalid.")},
    {0x80040E10u, KW("No value given for one or more required parameters.")},
    {0x80040E11u, KW("Column ID is invalid.")},
    {0x80040E12u, KW("Numerator was greater than denominator. Values must express ratio between zero and 1.")},
    {0x80040E13u, KW("Value is invalid.")},
    {0x80040E14u, KW("One or more errors occurred during processing of command.")},
    {0x80040E15u, KW("Command cannot be canceled.")},
    {0x80040E16u, KW("Command dialect is not supported by this provider.")},
    {0x80040E17u, KW("Data source object could not be created because the named data source already exists.")},
    {0x80040E18u, KW("Rowset position cannot be restarted.")},
    {0x80040E19u, KW("Object or data matching the name, range, or selection criteria was not found within the scope of this operation.")},
    {0x80040E1Au, KW("Provider has ownership of this tree.")},
    {0x80040E1Bu, KW("Identity cannot be determined for newly inserted rows.")},
    {0x80040E1Cu, KW("Goal was rejected because no nonzero weights were specified for any goals supported. Current goal was not changed.")},
    {0x80040E1Du, KW("Requested conversion is not supported.")},
    {0x80040E1Eu, KW("No rows were returned because the offset value moves the position before the beginning or after the end of the rowset.")},
    {0x80040E1Fu, KW("Information was requested for a query and the query was not set.")},
    {0x80040E20u, KW("Consumer's event handler called a non-reentrant method in the provider.")},
    {0x80040E21u, KW("Multiple-step OLE DB operation generated errors. Check each OLE DB status value, if available. No work was done.")},
    {0x80040E22u, KW("Non-NULL controlling IUnknown was specified, and either the requested interface was not IUnknown, or the provider does not support COM aggregation.")},
    {0x80040E23u, KW("Row handle referred to a deleted row or a row marked for deletion.")},
    {0x80040E24u, KW("Rowset does not support fetching backward.")},
    {0x80040E25u, KW("Row handles must all be released before new ones can be obtained.")},
    {0x80040E26u, KW("One or more storage flags are not supported.")},
    {0x80040E27u, KW("Comparison operator is invalid.")},
    {0x80040E28u, KW("Status flag was neither DBCOLUMNSTATUS_OK nor DBCOLUMNSTATUS_ISNULL.")},
    {0x80040E29u, KW("Rowset does not support scrolling backward.")},
    {0x80040E2Au, KW("Region handle is invalid.")},
    {0x80040E2Bu, KW("Set of rows is not contiguous to, or does not overlap, the rows in the watch region.")},
    {0x80040E2Cu, KW("Transition from ALL* to MOVE* or EXTEND* was specified.")},
    {0x80040E2Du, KW("Region is not a proper subregion of the region identified by the watch region handle.")},
    {0x80040E2Eu, KW("Multiple-statement commands are not supported by this provider.")},
    {0x80040E2Fu, KW("Value violated the integrity constraints for a column or table.")},
    {0x80040E30u, KW("Type name is invalid.")},
    {0x80040E31u, KW("Execution stopped because a resource limit was reached. No results were returned.")},
    {0x80040E32u, KW("Command object whose command tree contains a rowset or rowsets cannot be cloned.")},
    {0x80040E33u, KW("Current tree cannot be represented as text.")},
    {0x80040E34u, KW("Index already exists.")},
    {0x80040E35u, KW("Index does not exist.")},
    {0x80040E36u, KW("Index is in use.")},
    {0x80040E37u, KW("Table does not exist.")},
    {0x80040E38u, KW("Rowset used optimistic concurrency and the value of a column has changed since it was last read.")},
    {0x80040E39u, KW("Errors detected during the copy.")},
    {0x80040E3Au, KW("Precision is invalid.")},
    {0x80040E3Bu, KW("Scale is invalid.")},
    {0x80040E3Cu, KW("Table ID is invalid.")},
    {0x80040E3Du, KW("Type is invalid.")},
    {0x80040E3Eu, KW("Column ID already exists or occurred more than once in the array of columns.")},
    {0x80040E3Fu, KW("Table already exists.")},
    {0x80040E40u, KW("Table is in use.")},
    {0x80040E41u, KW("Locale ID is not supported.")},
    {0x80040E42u, KW("Record number is invalid.")},
    {0x80040E43u, KW("Form of bookmark is valid, but no row was found to match it.")},
    {0x80040E44u, KW("Property value is invalid.")},
    {0x80040E45u, KW("Rowset is not chaptered.")},
    {0x80040E46u, KW("One or more accessor flags were invalid.")},
    {0x80040E47u, KW("One or more storage flags are invalid.")},
    {0x80040E48u, KW("Reference accessors are not supported by this provider.")},
    {0x80040E49u, KW("Null accessors are not supported by this provider.")},
    {0x80040E4Au, KW("Command was not prepared.")},
    {0x80040E4Bu, KW("Accessor is not a parameter accessor.")},
    {0x80040E4Cu, KW("Accessor is write-only.")},
    {0x80040E4Du, KW("Authentication failed.")},
    {0x80040E4Eu, KW("Operation was canceled.")},
    {0x80040E4Fu, KW("Rowset is single-chaptered. The chapter was not released.")},
    {0x80040E50u, KW("Source handle is invalid.")},
    {0x80040E51u, KW("Provider cannot derive parameter information and SetParameterInfo has not been called.")},
    {0x80040E52u, KW("Data source object is already initialized.")},
    {0x80040E53u, KW("Method is not supported by this provider.")},
    {0x80040E54u, KW("Number of rows with pending changes exceeded the limit.")},
    {0x80040E55u, KW("Column does not exist.")},
    {0x80040E56u, KW("Pending changes exist on a row with a reference count of zero.")},
    {0x80040E57u, KW("Literal value in the command exceeded the range of the type of the associated column.")},
    {0x80040E58u, KW("HRESULT is invalid.")},
    {0x80040E59u, KW("Lookup ID is invalid.")},
    {0x80040E5Au, KW("DynamicError ID is invalid.")},
    {0x80040E5Bu, KW("Most recent data for a newly inserted row could not be retrieved because the insert is pending.")},
    {0x80040E5Cu, KW("Conversion flag is invalid.")},
    {0x80040E5Du, KW("Parameter name is unrecognized.")},
    {0x80040E5Eu, KW("Multiple storage objects cannot be open simultaneously.")},
    {0x80040E5Fu, KW("Filter cannot be opened.")},
    {0x80040E60u, KW("Order cannot be opened.")},
    {0x80040E61u, KW("Tuple is invalid.")},
    {0x80040E62u, KW("Coordinate is invalid.")},
    {0x80040E63u, KW("Axis is invalid.")},
    {0x80040E64u, KW("One or more cell ordinals is invalid.")},
    {0x80040E65u, KW("Column ID is invalid.")},
    {0x80040E67u, KW("Command does not have a DBID.")},
    {0x80040E68u, KW("DBID already exists.")},
    {0x80040E69u, KW("Session cannot be created because maximum number of active sessions was already reached. Consumer must release one or more sessions before creating a new session object.")},
    {0x80040E6Au, KW("Trustee is invalid.")},
    {0x80040E6Bu, KW("Trustee was not recognized for this data source.")},
    {0x80040E6Cu, KW("Trustee does not support memberships or collections.")},
    {0x80040E6Du, KW("Object is invalid or unknown to the provider.")},
    {0x80040E6Eu, KW("Object does not have an owner.")},
    {0x80040E6Fu, KW("Access entry list is invalid.")},
    {0x80040E70u, KW("Trustee supplied as owner is invalid or unknown to the provider.")},
    {0x80040E71u, KW("Permission in the access entry list is invalid.")},
    {0x80040E72u, KW("Index ID is invalid.")},
    {0x80040E73u, KW("Format of the initialization string does not conform to the OLE DB specification.")},
    {0x80040E74u, KW("No OLE DB providers of this source type are registered.")},
    {0x80040E75u, KW("Initialization string specifies a provider that does not match the active provider.")},
    {0x80040E76u, KW("DBID is invalid.")},
    {0x80040E77u, KW("ConstraintType is invalid or not supported by the provider.")},
    {0x80040E78u, KW("ConstraintType is not DBCONSTRAINTTYPE_FOREIGNKEY and cForeignKeyColumns is not zero.")},
    {0x80040E79u, KW("Specified deferrability flag is invalid or not supported by the provider.")},
    {0x80040E80u, KW("MatchType is invalid or the value is not supported by the provider.")},
    {0x80040E8Au, KW("Constraint update rule or delete rule is invalid.")},
    {0x80040E8Bu, KW("Constraint ID is invalid.")},
    {0x80040E8Cu, KW("Command persistence flag is invalid.")},
    {0x80040E8Du, KW("rguidColumnType points to a GUID that does not match the object type of this column, or this column was not set.")},
    {0x80040E8Eu, KW("URL is outside of scope.")},
    {0x80040E90u, KW("Column or constraint could not be dropped because it is referenced by a dependent view or constraint.")},
    {0x80040E91u, KW("Source row does not exist.")},
    {0x80040E92u, KW("OLE DB object represented by this URL is locked by one or more other processes.")},
    {0x80040E93u, KW("Client requested an object type that is valid only for a collection.")},
    {0x80040E94u, KW("Caller requested write access to a read-only object.")},
    {0x80040E95u, KW("Asynchronous binding is not supported by this provider.")},
    {0x80040E96u, KW("Connection to the server for this URL cannot be established.")},
    {0x80040E97u, KW("Timeout occurred when attempting to bind to the object.")},
    {0x80040E98u, KW("Object cannot be created at this URL because an object named by this URL already exists.")},
    {0x80040E99u, KW("Constraint already exists.")},
    {0x80040E9Au, KW("Object cannot be created at this URL because the server is out of physical storage.")},
    {0x80040E9Bu, KW("Safety settings on this computer prohibit accessing a data source on another domain.")},
    {0x80040E9Cu, KW("The specified statistic does not exist in the current data source or did not apply to the specified table or it does not support a histogram.")},
    {0x80040E9Du, KW("Column or table could not be altered because it is referenced by a constraint.")},
    {0x80040E9Eu, KW("Requested object type is not supported by the provider.")},
    {0x80040E9Fu, KW("Constraint does not exist.")},
    {0x80040EA0u, KW("Requested column is valid, but could not be retrieved. This could be due to a forward only cursor attempting to go backwards in a row.")},
    {0x80070005u, KW("General access denied error.")},
    {0x80070006u, KW("Invalid handle.")},
    {0x8007000Eu, KW("Ran out of memory.")},
    {0x80070057u, KW("One or more arguments are invalid.")},
});
// clang-format on

constexpr bool IsStrictlySorted() {
    for (size_t i = 1; i < kHResultRows.size(); ++i) {
        if (kHResultRows[i - 1].code >= kHResultRows[i].code) {
            return false;
        }
    }
    return true;
}
static_assert(kHResultRows.size() == 263, "the HRESULT table has 263 rows");
static_assert(IsStrictlySorted(), "the HRESULT table must be sorted by code without duplicates");

constexpr const WChar* kUnknownHResult = KW("Unknown Error.");

constexpr std::array kCrackNameTexts = {
    KW("A generic processing error occurred."),
    KW("The name cannot be found or the caller does not have permission to access the name."),
    KW("The input name is mapped to more than one output name or the desired format did not have a single, "
       "unique "
       "value for the object found."),
    KW("The input name was found, but the associated output format cannot be found. This can occur if the "
       "object "
       "does not have all the required attributes."),
    KW("Unable to resolve entire name, but was able to determine in which domain object resides. The caller "
       "is "
       "expected to retry the call at a domain controller for the specified domain. The entire name cannot "
       "be "
       "resolved, but the domain that the object resides in could be determined. The pDomain member of the "
       "DS_NAME_RESULT_ITEM contains valid data when this error is specified."),
    KW("A syntactical mapping cannot be performed on the client without transmitting over the network."),
    KW("The name is from an external trusted forest."),
};

}  // namespace

std::span<const HResultTextRow> HResultTextTable() {
    return kHResultRows;
}

const WChar* HResultText(int32_t hresult) {
    const uint32_t code = static_cast<uint32_t>(hresult);
    const auto* row = std::lower_bound(kHResultRows.begin(), kHResultRows.end(), code,
                                       [](const HResultTextRow& r, uint32_t c) { return r.code < c; });
    if (row != kHResultRows.end() && row->code == code) {
        return row->text;
    }
    return kUnknownHResult;
}

WString SystemErrorText(uint32_t code) {
    WString text;
    try {
        text = platform::Messages().Text(code);
    } catch (...) {
        return WString();
    }
    // Log lines are one line each: the platform's texts end with (and may contain) line breaks.
    std::erase_if(text, [](WChar c) { return c == u'\r' || c == u'\n'; });
    return text;
}

const WChar* CrackNameStatusText(uint32_t status) {
    if (status >= 1 && status <= kCrackNameTexts.size()) {
        return kCrackNameTexts[status - 1];
    }
    return KW("Unknown crack name error.");
}

}  // namespace korva
