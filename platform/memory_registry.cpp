// An in-memory registry that behaves like Win32's: a tree of keys under four roots, handles with access
// masks, the 32-bit view of HKLM\SOFTWARE, and regedit-format persistence.
#include "platform/memory_registry.h"

#include <cstring>
#include <mutex>
#include <optional>

#include "platform/memory_registry_tree.h"
#include "platform/result_codes.h"

namespace korva::platform {
using namespace regtree;

namespace {

constexpr uint32_t kGenericReadAccess = 0x80000000u;
constexpr uint32_t kGenericWriteAccess = 0x40000000u;
constexpr uint32_t kGenericAllAccess = 0x10000000u;
constexpr uint32_t kMaximumAllowed = 0x02000000u;

struct Handle {
    std::shared_ptr<Node> node;
    uint32_t access = 0;
};

struct Fault {
    MemoryRegistry::Op op;
    int32_t code;
    WString match;  // lower case; empty matches every call
};

uint32_t EffectiveAccess(uint32_t access) {
    if ((access & (kGenericAllAccess | kMaximumAllowed)) != 0) {
        access |= kKeyAllAccess;
    }
    if ((access & kGenericReadAccess) != 0) {
        access |= kKeyRead;
    }
    if ((access & kGenericWriteAccess) != 0) {
        access |= kKeyWrite;
    }
    return access;
}

bool Contains(WStringView haystackLower, WStringView needleLower) {
    return haystackLower.find(needleLower) != WStringView::npos;
}

}  // namespace

struct MemoryRegistry::Impl {
    mutable std::mutex mutex;
    std::shared_ptr<Node> roots[kRootCount];
    std::map<RegKey, Handle> handles;
    RegKey nextHandle = 0x1000;
    std::vector<Fault> faults;

    Impl() {
        for (size_t i = 0; i < kRootCount; ++i) {
            roots[i] = std::make_shared<Node>();
            roots[i]->name = WString(kRoots[i].name);
        }
        // As on 64-bit Windows, SOFTWARE and its 32-bit twin always exist.
        Node& machine = *roots[2];
        Node& software = *CreateChild(&machine, KW("SOFTWARE"));
        CreateChild(&software, kWow6432Node);
    }

    static Node* CreateChild(Node* parent, WStringView name) {
        std::shared_ptr<Node>& slot = parent->children[AsciiLower(name)];
        if (!slot) {
            slot = std::make_shared<Node>();
            slot->name = WString(name);
            slot->parent = parent;
        }
        return slot.get();
    }

    static Node* FindChild(const Node* parent, WStringView name) {
        const auto found = parent->children.find(AsciiLower(name));
        return found == parent->children.end() ? nullptr : found->second.get();
    }

    static std::optional<size_t> RootIndex(RegKey key) {
        for (size_t i = 0; i < kRootCount; ++i) {
            if (kRoots[i].key == key) {
                return i;
            }
        }
        return std::nullopt;
    }

    // The node behind a handle or predefined root, with the handle's access; 6 for an unknown handle, 1018
    // for a key deleted since it was opened.
    // The node of an open key whose access includes `needed` (kAccessDenied when it does not).
    int32_t LookupFor(RegKey key, uint32_t needed, Node** node) const {
        uint32_t access = 0;
        const int32_t result = Lookup(key, node, &access);
        if (result != winerr::kSuccess) {
            return result;
        }
        return (access & needed) == 0 ? winerr::kAccessDenied : winerr::kSuccess;
    }

    int32_t Lookup(RegKey key, Node** node, uint32_t* access) const {
        if (const std::optional<size_t> root = RootIndex(key)) {
            *node = roots[*root].get();
            *access = kKeyAllAccess;
            return winerr::kSuccess;
        }
        const auto found = handles.find(key);
        if (found == handles.end()) {
            return winerr::kInvalidHandle;
        }
        if (found->second.node->deleted) {
            return winerr::kKeyDeleted;
        }
        *node = found->second.node.get();
        *access = found->second.access;
        return winerr::kSuccess;
    }

    static WString PathOf(const Node* node) {
        WString path = node->name;
        for (const Node* up = node->parent; up != nullptr; up = up->parent) {
            path = up->name + KW('\\') + path;
        }
        return path;
    }

    // The text a fault's `match` is looked for in: the key's path, plus the sub-key or value name.
    WString MatchText(RegKey key, const WChar* name) const {
        WString text;
        Node* node = nullptr;
        uint32_t access = 0;
        if (Lookup(key, &node, &access) == winerr::kSuccess) {
            text = PathOf(node);
        }
        if (name != nullptr) {
            text += KW('\\');
            text += name;
        }
        return AsciiLower(text);
    }

    // Takes the first pending fault for `op` whose match is found in `matchText`.
    std::optional<int32_t> TakeFault(MemoryRegistry::Op op, const WString& matchTextLower) {
        for (auto it = faults.begin(); it != faults.end(); ++it) {
            if (it->op == op && (it->match.empty() || Contains(matchTextLower, it->match))) {
                const int32_t code = it->code;
                faults.erase(it);
                return code;
            }
        }
        return std::nullopt;
    }

    // Resolves `subKey` below `parent` in the view `access` selects; creates missing keys when `create`.
    int32_t Resolve(Node* parent, const WChar* subKey, uint32_t access, bool create, Node** out) {
        std::vector<WString> parts;
        if (!SplitKeyPath(subKey == nullptr ? WStringView() : WStringView(subKey), &parts)) {
            return winerr::kBadPathname;
        }
        // Absolute components below the root, so that the view rule sees the whole path.
        std::vector<Node*> ancestors;
        Node* node = parent;
        for (; node->parent != nullptr; node = node->parent) {
            ancestors.push_back(node);
        }
        std::vector<WString> absolute;
        for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
            absolute.push_back((*it)->name);
        }
        for (WString& part : parts) {
            absolute.push_back(std::move(part));
        }
        if (node == roots[2].get() && (access & kKeyWow64_32Key) != 0 && !absolute.empty() &&
            EqualsNoCaseAscii(absolute[0], KW("SOFTWARE")) &&
            (absolute.size() == 1 || !EqualsNoCaseAscii(absolute[1], kWow6432Node))) {
            std::vector<WString> redirected;
            redirected.reserve(absolute.size() + 1);
            for (size_t i = 0; i < absolute.size(); ++i) {
                redirected.push_back(std::move(absolute[i]));
                if (i == 0) {
                    redirected.emplace_back(kWow6432Node);
                }
            }
            absolute = std::move(redirected);
        }
        for (const WString& part : absolute) {
            Node* child = FindChild(node, part);
            if (child == nullptr) {
                if (!create) {
                    return winerr::kFileNotFound;
                }
                child = CreateChild(node, part);
            }
            node = child;
        }
        *out = node;
        return winerr::kSuccess;
    }

    RegKey AddHandle(Node* node, uint32_t access) {
        const RegKey key = nextHandle;
        nextHandle += 4;
        handles[key] = Handle{SharedOf(node), access};
        return key;
    }

    std::shared_ptr<Node> SharedOf(Node* node) {
        if (node->parent == nullptr) {
            for (const auto& root : roots) {
                if (root.get() == node) {
                    return root;
                }
            }
        }
        return node->parent->children.at(AsciiLower(node->name));
    }

    static void MarkDeleted(Node* node) {
        node->deleted = true;
        for (auto& [name, child] : node->children) {
            MarkDeleted(child.get());
        }
    }

    Node* NodeAtPath(WStringView fullPath, bool create) {
        size_t root = 0;
        std::vector<WString> parts;
        if (!ParseFullPath(fullPath, &root, &parts)) {
            return nullptr;
        }
        Node* node = roots[root].get();
        for (const WString& part : parts) {
            Node* child = FindChild(node, part);
            if (child == nullptr) {
                if (!create) {
                    return nullptr;
                }
                child = CreateChild(node, part);
            }
            node = child;
        }
        return node;
    }

    static void StoreValue(Node* node, WStringView name, uint32_t type, std::vector<uint8_t> data) {
        Value& value = node->values[AsciiLower(name)];
        if (value.name.empty()) {
            value.name = WString(name);
        }
        value.type = type;
        value.data = std::move(data);
    }

    void Apply(const RegAction& action) {
        Node* node = roots[action.root].get();
        for (const WString& part : action.path) {
            Node* child = FindChild(node, part);
            if (child == nullptr) {
                if (action.kind == RegAction::Kind::DeleteTree) {
                    return;  // nothing to delete
                }
                child = CreateChild(node, part);
            }
            node = child;
        }
        switch (action.kind) {
            case RegAction::Kind::CreateKey:
                break;
            case RegAction::Kind::DeleteTree:
                if (node->parent != nullptr) {
                    MarkDeleted(node);
                    node->parent->children.erase(AsciiLower(node->name));
                }
                break;
            case RegAction::Kind::SetValue:
                StoreValue(node, action.name, action.type, action.data);
                break;
            case RegAction::Kind::DeleteValue:
                node->values.erase(AsciiLower(action.name));
                break;
        }
    }
};

MemoryRegistry::MemoryRegistry() : impl_(std::make_unique<Impl>()) {}

MemoryRegistry::~MemoryRegistry() = default;

int32_t MemoryRegistry::Connect(const WChar* machine, RegKey predefined, RegKey* out) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (out == nullptr) {
        return winerr::kInvalidParameter;
    }
    // A failure, injected or not, leaves no handle behind, as RegConnectRegistryW does.
    *out = 0;
    const std::optional<size_t> root = Impl::RootIndex(predefined);
    if (const auto fault =
            impl_->TakeFault(Op::Connect, AsciiLower(root ? WString(kRoots[*root].name) : WString()))) {
        return *fault;
    }
    if (!root) {
        return winerr::kInvalidHandle;
    }
    if (machine != nullptr && machine[0] != 0) {
        return winerr::kBadNetpath;  // only this computer's registry exists here
    }
    *out = impl_->AddHandle(impl_->roots[*root].get(), kMaximumAllowed | kKeyAllAccess);
    return winerr::kSuccess;
}

// RegOpenKeyExW and RegCreateKeyExW differ only in whether missing keys are made (and creating needs a name).
int32_t MemoryRegistry::OpenOrCreateKey(Op op, RegKey parent, const WChar* subKey, uint32_t access,
                                        RegKey* out) {
    const bool create = op == Op::CreateKey;
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (out == nullptr) {
        return winerr::kInvalidParameter;
    }
    // A failure, injected or not, leaves no handle behind, as RegOpenKeyExW and RegCreateKeyExW do.
    *out = 0;
    if (const auto fault = impl_->TakeFault(op, impl_->MatchText(parent, subKey))) {
        return *fault;
    }
    if (create && subKey == nullptr) {
        return winerr::kInvalidParameter;
    }
    Node* parentNode = nullptr;
    uint32_t parentAccess = 0;
    int32_t result = impl_->Lookup(parent, &parentNode, &parentAccess);
    if (result != winerr::kSuccess) {
        return result;
    }
    Node* node = nullptr;
    result = impl_->Resolve(parentNode, subKey, access, create, &node);
    if (result != winerr::kSuccess) {
        return result;
    }
    *out = impl_->AddHandle(node, EffectiveAccess(access));
    return winerr::kSuccess;
}

int32_t MemoryRegistry::OpenKey(RegKey parent, const WChar* subKey, uint32_t access, RegKey* out) {
    return OpenOrCreateKey(Op::OpenKey, parent, subKey, access, out);
}

int32_t MemoryRegistry::CreateKey(RegKey parent, const WChar* subKey, uint32_t access, RegKey* out) {
    return OpenOrCreateKey(Op::CreateKey, parent, subKey, access, out);
}

int32_t MemoryRegistry::QueryValue(RegKey key, const WChar* name, uint32_t* type, uint8_t* data,
                                   uint32_t* size) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (const auto fault =
            impl_->TakeFault(Op::QueryValue, impl_->MatchText(key, name == nullptr ? KW("") : name))) {
        return *fault;
    }
    if (data != nullptr && size == nullptr) {
        return winerr::kInvalidParameter;
    }
    Node* node = nullptr;
    if (const int32_t result = impl_->LookupFor(key, kKeyQueryValue, &node); result != winerr::kSuccess) {
        return result;
    }
    const auto found = node->values.find(AsciiLower(name == nullptr ? WStringView() : WStringView(name)));
    if (found == node->values.end()) {
        return winerr::kFileNotFound;
    }
    const Value& value = found->second;
    const auto needed = static_cast<uint32_t>(value.data.size());
    if (type != nullptr) {
        *type = value.type;
    }
    if (data != nullptr && *size < needed) {
        *size = needed;
        return winerr::kMoreData;
    }
    if (data != nullptr && needed != 0) {
        std::memcpy(data, value.data.data(), needed);
    }
    if (size != nullptr) {
        *size = needed;
    }
    return winerr::kSuccess;
}

int32_t MemoryRegistry::SetValue(RegKey key, const WChar* name, uint32_t type, const uint8_t* data,
                                 uint32_t size) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (const auto fault =
            impl_->TakeFault(Op::SetValue, impl_->MatchText(key, name == nullptr ? KW("") : name))) {
        return *fault;
    }
    const WStringView valueName = name == nullptr ? WStringView() : WStringView(name);
    if ((data == nullptr && size != 0) || valueName.size() > kMaxValueName) {
        return winerr::kInvalidParameter;
    }
    Node* node = nullptr;
    if (const int32_t result = impl_->LookupFor(key, kKeySetValue, &node); result != winerr::kSuccess) {
        return result;
    }
    Impl::StoreValue(node, valueName, type, std::vector<uint8_t>(data, data + size));
    return winerr::kSuccess;
}

int32_t MemoryRegistry::DeleteKey(RegKey parent, const WChar* subKey) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (const auto fault = impl_->TakeFault(Op::DeleteKey, impl_->MatchText(parent, subKey))) {
        return *fault;
    }
    if (subKey == nullptr) {
        return winerr::kInvalidParameter;
    }
    Node* parentNode = nullptr;
    uint32_t parentAccess = 0;
    int32_t result = impl_->Lookup(parent, &parentNode, &parentAccess);
    if (result != winerr::kSuccess) {
        return result;
    }
    Node* node = nullptr;
    result = impl_->Resolve(parentNode, subKey, 0, false, &node);
    if (result != winerr::kSuccess) {
        return result;
    }
    // Windows refuses to delete a root, and a key that still has sub-keys.
    if (node->parent == nullptr || !node->children.empty()) {
        return winerr::kAccessDenied;
    }
    Node* owner = node->parent;
    node->deleted = true;
    owner->children.erase(AsciiLower(node->name));
    return winerr::kSuccess;
}

int32_t MemoryRegistry::DeleteValue(RegKey key, const WChar* name) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (const auto fault =
            impl_->TakeFault(Op::DeleteValue, impl_->MatchText(key, name == nullptr ? KW("") : name))) {
        return *fault;
    }
    Node* node = nullptr;
    if (const int32_t result = impl_->LookupFor(key, kKeySetValue, &node); result != winerr::kSuccess) {
        return result;
    }
    if (node->values.erase(AsciiLower(name == nullptr ? WStringView() : WStringView(name))) == 0) {
        return winerr::kFileNotFound;
    }
    return winerr::kSuccess;
}

int32_t MemoryRegistry::CloseKey(RegKey key) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    if (const auto fault = impl_->TakeFault(Op::CloseKey, impl_->MatchText(key, nullptr))) {
        return *fault;
    }
    if (Impl::RootIndex(key)) {
        return winerr::kSuccess;
    }
    // A handle to a deleted key is still a handle and closes normally.
    return impl_->handles.erase(key) == 1 ? winerr::kSuccess : winerr::kInvalidHandle;
}

void MemoryRegistry::PutValue(WStringView keyPath, WStringView name, uint32_t type, const void* data,
                              uint32_t size) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    Node* node = impl_->NodeAtPath(keyPath, true);
    if (node == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    Impl::StoreValue(node, name, type,
                     bytes == nullptr ? std::vector<uint8_t>() : std::vector<uint8_t>(bytes, bytes + size));
}

void MemoryRegistry::PutString(WStringView keyPath, WStringView name, WStringView text, uint32_t type) {
    const std::vector<uint8_t> data = StringData(text);
    PutValue(keyPath, name, type, data.data(), static_cast<uint32_t>(data.size()));
}

void MemoryRegistry::PutDword(WStringView keyPath, WStringView name, uint32_t value) {
    PutValue(keyPath, name, kRegDword, &value, sizeof(value));
}

bool MemoryRegistry::HasKey(WStringView keyPath) const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->NodeAtPath(keyPath, false) != nullptr;
}

void MemoryRegistry::FailNext(Op op, int32_t code, WStringView match) {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->faults.push_back(Fault{op, code, AsciiLower(match)});
}

size_t MemoryRegistry::OpenHandleCount() const {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->handles.size();
}

int32_t MemoryRegistry::LoadRegText(WStringView text) {
    std::vector<RegAction> actions;
    const int32_t result = ParseRegText(text, &actions);
    if (result != winerr::kSuccess) {
        return result;
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (const RegAction& action : actions) {
        impl_->Apply(action);
    }
    return winerr::kSuccess;
}

WString MemoryRegistry::SaveRegText() const {
    WString text(kRegeditHeader);
    text += KW("\r\n\r\n");
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (const auto& root : impl_->roots) {
        AppendKey(&text, *root, root->name, true);
    }
    return text;
}

}  // namespace korva::platform
