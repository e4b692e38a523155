#include "directory/backend.h"

namespace korva {

int32_t StoredByteArray::GetLowerBound(int32_t* lower) const {
    *lower = 0;
    return 0;
}

int32_t StoredByteArray::GetUpperBound(int32_t* upper) const {
    *upper = static_cast<int32_t>(bytes_.size()) - 1;
    return 0;
}

int32_t StoredByteArray::AccessData(const uint8_t** data) {
    *data = bytes_.data();
    return 0;
}

int32_t StoredTextArray::AccessData(const std::vector<WString>** values) {
    *values = &values_;
    return 0;
}

int32_t UnavailableDirectoryBackend::GetJoinInformation(WString* name, uint32_t* status) {
    name->clear();
    *status = kNetSetupUnknownStatus;
    return winerr::kCallNotImplemented;
}

int32_t UnavailableDirectoryBackend::GetDcName(const WChar*, uint32_t, DomainControllerInfo* info) {
    *info = DomainControllerInfo{};
    return winerr::kCallNotImplemented;
}

int32_t UnavailableDirectoryBackend::BindDomainController(const WChar*,
                                                          std::unique_ptr<DomainControllerBinding>* binding) {
    binding->reset();
    return winerr::kCallNotImplemented;
}

int32_t UnavailableDirectoryBackend::LookupAccountName(const WChar*, const WChar*,
                                                       AccountSidBuffers* buffers) {
    buffers->sid.clear();
    buffers->domain.clear();
    buffers->use = 0;
    return winerr::kCallNotImplemented;
}

int32_t UnavailableDirectoryBackend::LookupAccountSid(const WChar*, const SidBytes&,
                                                      AccountNameBuffers* buffers) {
    buffers->name.clear();
    buffers->domain.clear();
    buffers->use = 0;
    return winerr::kCallNotImplemented;
}

int32_t UnavailableDirectoryBackend::SidToString(const SidBytes&, WString* text, int32_t* releaseResult) {
    text->clear();
    *releaseResult = 0;
    return winerr::kCallNotImplemented;
}

int32_t UnavailableDirectoryBackend::StringToSid(const WChar*, SidBytes* sid) {
    sid->clear();
    return winerr::kCallNotImplemented;
}

// Nothing to initialise: the failure shows at the first object the caller asks for.
int32_t UnavailableDirectoryBackend::InitializeCom() {
    return kSOk;
}

int32_t UnavailableDirectoryBackend::CreateNameTranslate(std::unique_ptr<NameTranslator>* translator) {
    translator->reset();
    return kENotImpl;
}

int32_t UnavailableDirectoryBackend::BindObject(const WChar*, ObjectInterface,
                                                std::unique_ptr<DirectoryObject>* object) {
    object->reset();
    return kENotImpl;
}

#if !defined(_WIN32)
std::unique_ptr<DirectoryBackend> CreateSystemDirectoryBackend() {
    return nullptr;
}
#endif

}  // namespace korva
