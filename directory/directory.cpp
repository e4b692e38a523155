#include "directory/directory.h"

#include "directory/configuration.h"

namespace korva {

namespace {

// The platform's own directory where it has one (Windows), otherwise one that answers "not implemented".
DirectoryBackend& DefaultBackend() {
    static UnavailableDirectoryBackend unavailable;
    static const std::unique_ptr<DirectoryBackend> system = CreateSystemDirectoryBackend();
    return system != nullptr ? *system : unavailable;
}

Directory& Fallback() {
    static Directory fallback(DefaultBackend());
    return fallback;
}

Directory*& Current() {
    static Directory* current = &Fallback();
    return current;
}

// The backend installed by SetDirectoryBackend and the directory over it.
struct Configured {
    std::unique_ptr<DirectoryBackend> backend;
    std::unique_ptr<Directory> directory;
};
Configured& Installed() {
    static Configured installed;
    return installed;
}

}  // namespace

Directory& Dir() {
    return *Current();
}

void SetDirectoryBackend(std::unique_ptr<DirectoryBackend> backend) {
    Configured& installed = Installed();
    Current() = &Fallback();
    installed.directory.reset();
    installed.backend = std::move(backend);
    if (installed.backend != nullptr) {
        installed.directory = std::make_unique<Directory>(*installed.backend);
        Current() = installed.directory.get();
    }
}

ScopedDirectoryBackend::ScopedDirectoryBackend(DirectoryBackend* backend)
    : directory_(*backend), previous_(Current()) {
    Current() = &directory_;
}

ScopedDirectoryBackend::~ScopedDirectoryBackend() {
    Current() = previous_;
}

int32_t Directory::SidToString(const SidBytes& sid, WString* sidText) {
    int32_t released = 0;  // a string the platform could not free is still a good answer
    return backend_.SidToString(sid, sidText, &released);
}

std::pair<WString, WString> SplitAccountName(WStringView name) {
    if (name.find(u'/') != WStringView::npos)
        return {WString(), WString(name)};
    const size_t start = name.substr(0, 2) == KW("\\\\") ? 2 : 0;
    const size_t backslash = name.find(u'\\', start);
    if (backslash == WStringView::npos)
        return {WString(), WString(name)};
    return {WString(name.substr(0, backslash)), WString(name.substr(backslash + 1))};
}

WString MakeUncServerName(WStringView name) {
    if (name.size() <= 2)
        return WString();
    if (name.substr(0, 2) == KW("\\\\"))
        return WString(name);
    return (name[0] == u'\\' ? WString(KW("\\")) : WString(KW("\\\\"))) + WString(name);
}

WString DnsDomainToDistinguishedName(WStringView dnsName) {
    WString result = KW("DC=");
    for (WChar c : dnsName) {
        if (c == u'.') {
            result += KW(",DC=");
        } else {
            result += c;
        }
    }
    return result;
}

}  // namespace korva
