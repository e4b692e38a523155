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

namespace {

// The buffer protocol's size check: false, with the sizes needed written back, when either buffer is too small.
bool Fits(uint32_t* size, uint32_t* domainSize, uint32_t needed, uint32_t domainNeeded) {
    if (*size >= needed && *domainSize >= domainNeeded) {
        return true;
    }
    *size = needed;
    *domainSize = domainNeeded;
    return false;
}

}  // namespace

int32_t FillAccountSidBuffers(const SidBytes& sid, const WString& domain, uint32_t use,
                              AccountSidBuffers* buffers) {
    const auto sidSize = static_cast<uint32_t>(sid.size());
    const auto domainLength = static_cast<uint32_t>(domain.size());
    if (!Fits(&buffers->sidSize, &buffers->domainSize, sidSize, domainLength + 1)) {
        return winerr::kInsufficientBuffer;
    }
    *buffers = AccountSidBuffers{sidSize, domainLength, sid, domain, use};
    return 0;
}

int32_t FillAccountNameBuffers(const WString& name, const WString& domain, uint32_t use,
                               AccountNameBuffers* buffers) {
    const auto nameLength = static_cast<uint32_t>(name.size());
    const auto domainLength = static_cast<uint32_t>(domain.size());
    if (!Fits(&buffers->nameSize, &buffers->domainSize, nameLength + 1, domainLength + 1)) {
        return winerr::kInsufficientBuffer;
    }
    *buffers = AccountNameBuffers{nameLength, domainLength, name, domain, use};
    return 0;
}

void UnavailableDirectoryBackend::UninitializeCom() {}

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
