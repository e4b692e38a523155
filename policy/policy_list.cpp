#include "policy/policy_list.h"

#include "directory/directory.h"
#include "infra/log.h"
#include "platform/format.h"
#include "platform/result_codes.h"
#include "policy/load_report.h"
#include "policy/scope.h"
#include "xml/xml_dom.h"

namespace korva {

namespace {

constexpr const WChar* kPolicyObjectName = KW("QmhPasswordPolicy");
constexpr const WChar* kPolicyPathFormat = KW("LDAP://CN=%s,CN=Valexor,CN=Quillmarsh,CN=Program Data,%s");
constexpr const WChar* kPolicyAttribute = KW("msDS-ByteArray");
constexpr const WChar* kPolicyListTag = KW("PolicyList");

const WChar* OrEmpty(const WChar* text) {
    return text != nullptr ? text : KW("");
}

// UTF-8 to UTF-16 the way MultiByteToWideChar(CP_UTF8, 0) and the C string that held its result behave: no
// bytes is an invalid parameter, and the text ends at the first NUL.
int32_t ConvertDocumentBytes(cGjLog& log, std::string_view bytes, WString* text) {
    text->clear();
    log.LogMessage(kLogDebug, KW("Converting data retrieved from AD to WCHAR (1)."));
    if (bytes.empty()) {
        log.LogSystemError(kLogError, winerr::kInvalidParameter, KW("Unable to determine size of XML."));
        return winerr::kInvalidParameter;
    }
    log.LogMessage(kLogDebug, KW("Converting data retrieved from AD to WCHAR (2)."));
    WString converted = Utf8ToUtf16(bytes);
    const size_t end = converted.find(WChar(0));
    if (end != WString::npos) {
        converted.resize(end);
    }
    *text = std::move(converted);
    log.LogMessage(kLogDebug, KW("Converting data retrieved from AD to WCHAR (3)."));
    return 0;
}

const WChar* NodeTypeName(xml::NodeType type) {
    switch (type) {
        case xml::NodeType::Text:
            return KW("text");
        case xml::NodeType::CData:
            return KW("CDATA section");
        case xml::NodeType::Comment:
            return KW("comment");
        case xml::NodeType::ProcessingInstruction:
        case xml::NodeType::Declaration:
            return KW("processing instruction");
        default:
            return KW("node");
    }
}

}  // namespace

void CPolicylist::RemoveTimeSuffix(cGjLog& log, WString* text) {
    log.LogMessage(kLogDebug, KW("Try to extract time from policy."));
    const size_t length = text->size();
    if (length == 0 || (*text)[length - 1] != u'#') {
        return;
    }
    log.LogMessage(kLogDebug, KW("Detected opening '#' in policy, try to locate closing '#'."));
    // The other "#" is searched among the first length - 2 characters: the one just before the final "#" is
    // skipped, so "##" is not an empty time but a cut at an earlier "#".
    const size_t searched = length >= 2 ? length - 2 : 0;
    const size_t opening = searched == 0 ? WString::npos : text->rfind(u'#', searched - 1);
    if (opening == WString::npos) {
        log.LogMessage(kLogDebug, KW("Could not find closing '#', unable to extract time from policy."));
        return;
    }
    const WString time = text->substr(opening + 1, length - 1 - (opening + 1));
    log.LogMessage(kLogDebug, KW("Found time '%s'."), time.c_str());
    if (DocumentLoadReport* report = CurrentLoadReport()) {
        report->time = time;
    }
    text->resize(opening);
}

int32_t CPolicylist::DecodePolicyDocument(cGjLog& log, std::string_view bytes, WString* text) {
    const int32_t status = ConvertDocumentBytes(log, bytes, text);
    if (status != 0) {
        return status;
    }
    RemoveTimeSuffix(log, text);
    return 0;
}

int32_t CPolicylist::FetchPolicyDocument(cGjLog& log, const WChar* dnsName, WString* text) {
    text->clear();
    const WString domainDn = DnsDomainToDistinguishedName(OrEmpty(dnsName));
    log.LogMessage(kLogDebug, KW("Loading policy from domain with DNS name: '%s'"), dnsName);
    const WString path = Format(kPolicyPathFormat, kPolicyObjectName, domainDn.c_str());
    log.LogMessage(kLogDebug, KW("Created LDAP query: %s"), path.c_str());

    Directory& directory = Dir();
    std::unique_ptr<DirectoryObject> object;
    int32_t status = directory.BindObject(path.c_str(), ObjectInterface::Object, &object);
    if (status != 0 || object == nullptr) {
        status = status != 0 ? status : kEFail;
        log.LogHResult(kLogError, status, KW("Failed to bind policy object in Active Directoy."));
        return status;
    }
    AttributeValue value;
    status = object->Get(kPolicyAttribute, &value);
    if (status == kEAdsPropertyNotFound) {
        log.LogMessage(kLogInformation, KW("No policy object found in Active Directoy."));
        return 0;
    }
    if (status == 0 && (value.kind != AttributeValue::Kind::Bytes || value.bytes == nullptr)) {
        // Several values, or a value that is no octet string: nothing this system can read as one document.
        status = kEAdsCantConvertDatatype;
    }
    if (status != 0) {
        log.LogHResult(kLogError, status, KW("Unable to load policy object from Active Directoy."));
        return status;
    }

    ByteArray& array = *value.bytes;
    int32_t lower = 0;
    int32_t upper = 0;
    status = array.GetLowerBound(&lower);
    if (status != 0) {
        log.LogHResult(kLogError, status, KW("Unable to get safe lowerbound of policy array."));
        return status;
    }
    status = array.GetUpperBound(&upper);
    if (status != 0) {
        log.LogHResult(kLogError, status, KW("Unable to get safe upperbound of policy array."));
        return status;
    }
    const uint8_t* data = nullptr;
    status = array.AccessData(&data);
    if (status != 0) {
        log.LogHResult(kLogError, status, KW("Unable to increment lock count of policy array."));
        return status;
    }
    const int64_t count = static_cast<int64_t>(upper) - lower + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data),
                                 count > 0 && data != nullptr ? static_cast<size_t>(count) : 0);
    status = ConvertDocumentBytes(log, bytes, text);
    const int32_t released = array.Unaccess();
    if (status != 0) {
        return status;
    }
    if (released != 0) {
        log.LogHResult(kLogError, released, KW("Unable to decrement lock count of policy array."));
        status = released;
    }
    RemoveTimeSuffix(log, text);
    return status;
}

int32_t CPolicylist::LoadFromDirectory(cGjLog& log, const WChar* dnsName) {
    Clear();
    WString text;
    const int32_t status = FetchPolicyDocument(log, dnsName, &text);
    if (status != 0) {
        log.LogWithCode(kLogError, status, KW("Error occurred loading policies from domain '%s'."), dnsName);
        return status;
    }
    return LoadFromText(log, text, dnsName);
}

int32_t CPolicylist::LoadFromDocumentBytes(cGjLog& log, std::string_view bytes, const WChar* source,
                                           DocumentLoadReport* report) {
    const LoadReportScope reporting(report);
    Clear();
    WString text;
    const int32_t status = DecodePolicyDocument(log, bytes, &text);
    if (status != 0) {
        return status;
    }
    return LoadFromText(log, text, source);
}

int32_t CPolicylist::LoadFromText(cGjLog& log, const WString& text, const WChar* source) {
    if (text.empty()) {
        log.LogMessage(kLogInformation, KW("No policy found in domain '%s'."), source);
        return kResultNoPolicyDocument;
    }
    // The document is an argument, so a "%" in it is not a format; and it is copied once into the line, not
    // first into a temporary (it can be a megabyte).
    log.LogMessage(kLogInformation, KW("Found policy '%s' found in domain '%s'."), text.c_str(), source);
    log.LogMessage(kLogDebug, KW("Converting policy string to policy object."));
    const int32_t status = LoadFromXML(log, text.c_str());
    if (status != 0) {
        log.LogWithCode(kLogError, status, KW("Unable to load policy."));
    }
    return status;
}

int32_t CPolicylist::LoadFromXML(cGjLog& log, const WChar* text) {
    std::unique_ptr<xml::Document> document;
    DocumentLoadReport* report = CurrentLoadReport();
    const int32_t status =
        xml::Document::Parse(OrEmpty(text), &document, report != nullptr ? &report->parseError : nullptr);
    if (report != nullptr) {
        report->parseStatus = status;
    }
    if (status < 0) {
        // The parser could not even set up a document (out of memory).
        log.LogHResult(kLogError, status, KW("Failed to create DOM document."));
        return status;
    }
    if (status != kSOk || document == nullptr) {
        const int32_t reported = status != kSOk ? status : kSFalse;
        log.LogHResult(kLogError, reported, KW("Failed to load XML from string."));
        return reported;
    }
    return LoadFromDocument(log, *document);
}

int32_t CPolicylist::LoadFromDocument(cGjLog& log, const xml::Document& document) {
    std::vector<xml::Node> lists;
    int32_t status = document.GetElementsByTagName(kPolicyListTag, &lists);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("An error occurred getting policy list node from XML."));
        return status;
    }
    DocumentLoadReport* report = CurrentLoadReport();
    if (report != nullptr) {
        report->policyLists = lists.size();
    }
    if (lists.size() != 1) {
        log.LogWithCode(kLogError, kResultEmpty, KW("Can only process exactly 1 Policy list node, size '%d'"),
                        static_cast<int32_t>(lists.size()));
        return kResultEmpty;
    }
    const xml::Node& policyList = lists.front();

    WString version;
    status = ReadAttribute(log, policyList, KW("version"), &version);
    if (status != kSOk && status != kSFalse) {
        log.LogHResult(kLogDebug, status, KW("Failed to get type 'version'."));
        version.clear();
    }
    const WChar* versionText = version.empty() ? nullptr : version.c_str();
    if (report != nullptr && versionText != nullptr) {
        report->version = version;
    }

    bool hasChildren = false;
    status = policyList.HasChildNodes(&hasChildren);
    if (status != kSOk) {
        log.LogWithCode(kLogError, kResultEmpty, KW("Failed to determine if policy list node has children."));
        return status;
    }
    if (!hasChildren) {
        log.LogWithCode(kLogError, kResultEmpty, KW("No policy node found."));
        return kResultEmpty;
    }
    std::vector<xml::Node> children;
    status = policyList.GetChildNodes(&children);
    if (status != kSOk) {
        log.LogHResult(kLogError, status, KW("An error occurred getting policies node from policy list."));
        return status;
    }
    log.LogMessage(kLogDebug, KW("Load policies from XML."));

    for (const xml::Node& child : children) {
        if (report != nullptr) {
            ++(child.IsElement() ? report->policyElements : report->otherNodes);
        }
        if (!child.IsElement()) {
            // Comments and processing instructions are normal in a hand-edited document; stray text is more
            // likely a mistake. Neither is a policy, and neither stops the others from loading.
            const xml::NodeType type = child.Type();
            const bool harmless = type == xml::NodeType::Comment ||
                                  type == xml::NodeType::ProcessingInstruction ||
                                  type == xml::NodeType::Declaration;
            log.LogMessage(harmless ? kLogDebug : kLogWarning,
                           KW("Skipping %s in policy list, it is not a policy element."), NodeTypeName(type));
            continue;
        }
        auto policy = std::make_unique<CPolicy>(CPolicy::ForLoading{});
        const int32_t result = policy->LoadFromXML(log, child, versionText);
        if (result != 0) {
            log.LogWithCode(kLogError, result, KW("An error occurred loading policy from XML."));
            continue;
        }
        push_back(std::move(policy));
    }
    return 0;
}

int32_t CPolicylist::GetApplicablePolicy(cGjLog& log, CScope& userScope, CPolicy** policy) {
    *policy = nullptr;
    if (empty()) {
        log.LogMessage(kLogInformation, KW("Policy list is empty."));
        return kResultPolicyListEmpty;
    }
    CPolicy* found = nullptr;
    for (const auto& entry : *this) {
        if (entry == nullptr) {
            log.LogWithCode(kLogError, kResultNullEntry, KW("Found empty policy pointer in policy list."));
            continue;
        }
        if (!entry->IsEnabled()) {
            log.LogMessage(kLogDebug, KW("Skipping policy '%s', because it is disabled."), entry->GetName());
            continue;
        }
        bool applies = false;
        const int32_t status = entry->AppliesTo(log, userScope, &applies);
        if (status != 0) {
            log.LogWithCode(kLogDebug, status,
                            KW("Error occurred trying to determine if policy '%s' applies"),
                            entry->GetName());
            continue;
        }
        if (applies) {
            found = entry.get();
            break;
        }
    }
    if (found == nullptr) {
        log.LogWithCode(kLogError, kResultNoApplicablePolicy, KW("No applicable policy found for user '%s'."),
                        userScope.GetName());
        return kResultNoApplicablePolicy;
    }
    log.LogMessage(kLogDebug, KW("Found applicable policy '%s'."), found->GetName());
    *policy = found;
    return 0;
}

}  // namespace korva
