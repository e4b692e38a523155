// An in-memory registry that behaves like Win32's: a tree of keys under four roots, handles with access
// masks, the 32-bit view of HKLM\SOFTWARE, and regedit-format persistence.
#include "platform/memory_registry.h"

#include <cstring>
#include <mutex>
#include <optional>

#include "platform/files.h"
#include "platform/result_codes.h"

namespace korva::platform {
namespace {

constexpr uint32_t kGenericReadAccess = 0x80000000u;
constexpr uint32_t kGenericWriteAccess = 0x40000000u;
constexpr uint32_t kGenericAllAccess = 0x10000000u;
constexpr uint32_t kMaximumAllowed = 0x02000000u;
// Windows limits value names to 16,383 characters and key name components to 255.
constexpr size_t kMaxValueName = 16'383;
constexpr size_t kMaxKeyComponent = 255;

constexpr WStringView kRegeditHeader = KW("Windows Registry Editor Version 5.00");
constexpr WStringView kRegedit4Header = KW("REGEDIT4");
// Far beyond any settings file this registry stands in for; a larger file is refused unread.
constexpr uint64_t kMaxRegFileBytes = 64u * 1024u * 1024u;
constexpr WStringView kWow6432Node = KW("WOW6432Node");

struct RootName {
    RegKey key;
    WStringView name;
    WStringView shortName;
};
constexpr RootName kRoots[] = {
    {kHkeyClassesRoot, KW("HKEY_CLASSES_ROOT"), KW("HKCR")},
    {kHkeyCurrentUser, KW("HKEY_CURRENT_USER"), KW("HKCU")},
    {kHkeyLocalMachine, KW("HKEY_LOCAL_MACHINE"), KW("HKLM")},
    {kHkeyUsers, KW("HKEY_USERS"), KW("HKU")},
};
constexpr size_t kRootCount = sizeof(kRoots) / sizeof(kRoots[0]);

struct Value {
    WString name;  // as first written
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
};

struct Node {
    WString name;  // as created
    Node* parent = nullptr;
    bool deleted = false;
    std::map<WString, std::shared_ptr<Node>> children;  // by lower-case name, which also orders a saved file
    std::map<WString, Value> values;                    // by lower-case name
};

struct Handle {
    std::shared_ptr<Node> node;
    uint32_t access = 0;
};

struct Fault {
    MemoryRegistry::Op op;
    int32_t code;
    WString match;  // lower case; empty matches every call
};

// One line of a .reg file turned into an action; a file is applied only when every line parsed.
struct RegAction {
    enum class Kind { CreateKey, DeleteTree, SetValue, DeleteValue } kind;
    size_t root = 0;
    std::vector<WString> path;
    WString name;
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
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

// Splits "A\B\C" into components. A trailing backslash is allowed; a leading one or an empty component is
// not.
bool SplitKeyPath(WStringView path, std::vector<WString>* parts) {
    parts->clear();
    if (path.empty()) {
        return true;
    }
    if (path.back() == KW('\\')) {
        path.remove_suffix(1);
    }
    size_t start = 0;
    while (true) {
        const size_t end = path.find(KW('\\'), start);
        const WStringView part =
            path.substr(start, end == WStringView::npos ? WStringView::npos : end - start);
        if (part.empty() || part.size() > kMaxKeyComponent) {
            return false;
        }
        parts->emplace_back(part);
        if (end == WStringView::npos) {
            return true;
        }
        start = end + 1;
    }
}

std::optional<size_t> RootIndexByName(WStringView name) {
    for (size_t i = 0; i < kRootCount; ++i) {
        if (EqualsNoCaseAscii(name, kRoots[i].name) || EqualsNoCaseAscii(name, kRoots[i].shortName)) {
            return i;
        }
    }
    return std::nullopt;
}

// "HKEY_LOCAL_MACHINE\A\B" -> root index and components.
bool ParseFullPath(WStringView fullPath, size_t* root, std::vector<WString>* parts) {
    const size_t slash = fullPath.find(KW('\\'));
    const std::optional<size_t> index = RootIndexByName(fullPath.substr(0, slash));
    if (!index) {
        return false;
    }
    *root = *index;
    if (slash == WStringView::npos) {
        parts->clear();
        return true;
    }
    return SplitKeyPath(fullPath.substr(slash + 1), parts) && !parts->empty();
}

// ---- regedit text, writing ----

void AppendHexByte(WString* out, uint8_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    *out += static_cast<WChar>(kDigits[byte >> 4]);
    *out += static_cast<WChar>(kDigits[byte & 0xF]);
}

void AppendQuoted(WString* out, WStringView text) {
    *out += KW('"');
    for (WChar c : text) {
        if (c == KW('\\') || c == KW('"')) {
            *out += KW('\\');
        }
        *out += c;
    }
    *out += KW('"');
}

// The text of a REG_SZ value when it can be written as "..." (one terminating zero, no other zero, no line
// break); otherwise it is written as hex(1): so that it loads back byte for byte.
std::optional<WString> QuotableString(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0) {
        return std::nullopt;
    }
    WString text(data.size() / 2, KW('\0'));
    std::memcpy(text.data(), data.data(), data.size());
    if (text.back() != KW('\0')) {
        return std::nullopt;
    }
    text.pop_back();
    if (text.find_first_of(WStringView(KW("\r\n\0"), 3)) != WString::npos) {
        return std::nullopt;
    }
    return text;
}

void AppendValueLine(WString* out, const Value& value) {
    if (value.name.empty()) {
        *out += KW('@');
    } else {
        AppendQuoted(out, value.name);
    }
    *out += KW('=');
    if (value.type == kRegSz) {
        if (const std::optional<WString> text = QuotableString(value.data)) {
            AppendQuoted(out, *text);
            *out += KW("\r\n");
            return;
        }
    }
    if (value.type == kRegDword && value.data.size() == 4) {
        uint32_t number = 0;
        std::memcpy(&number, value.data.data(), 4);
        *out += KW("dword:");
        for (int shift = 24; shift >= 0; shift -= 8) {
            AppendHexByte(out, static_cast<uint8_t>(number >> shift));
        }
        *out += KW("\r\n");
        return;
    }
    size_t lineLength = value.name.size() + 3;
    if (value.type == kRegBinary) {
        *out += KW("hex:");
        lineLength += 4;
    } else {
        static constexpr char kDigits[] = "0123456789abcdef";
        WString typeText;
        uint32_t type = value.type;
        do {
            typeText.insert(typeText.begin(), static_cast<WChar>(kDigits[type & 0xF]));
            type >>= 4;
        } while (type != 0);
        *out += KW("hex(") + typeText + KW("):");
        lineLength += 6 + typeText.size();
    }
    // regedit's layout: lines of about 80 characters, continued with a backslash and two blanks.
    for (size_t i = 0; i < value.data.size(); ++i) {
        AppendHexByte(out, value.data[i]);
        lineLength += 2;
        if (i + 1 < value.data.size()) {
            *out += KW(',');
            ++lineLength;
            if (lineLength >= 76) {
                *out += KW("\\\r\n  ");
                lineLength = 2;
            }
        }
    }
    *out += KW("\r\n");
}

void AppendKey(WString* out, const Node& node, const WString& path, bool isRoot) {
    if (!isRoot || !node.values.empty()) {
        *out += KW('[') + path + KW("]\r\n");
        // The default value first, as regedit writes it.
        const auto defaultValue = node.values.find(WString());
        if (defaultValue != node.values.end()) {
            AppendValueLine(out, defaultValue->second);
        }
        for (const auto& [key, value] : node.values) {
            if (!key.empty()) {
                AppendValueLine(out, value);
            }
        }
        *out += KW("\r\n");
    }
    for (const auto& [key, child] : node.children) {
        AppendKey(out, *child, path + KW('\\') + child->name, false);
    }
}

// ---- regedit text, reading ----

WStringView Trim(WStringView text) {
    while (!text.empty() && (text.front() == KW(' ') || text.front() == KW('\t'))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == KW(' ') || text.back() == KW('\t'))) {
        text.remove_suffix(1);
    }
    return text;
}

bool StartsWith(WStringView text, WStringView prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool StartsWithNoCase(WStringView text, WStringView prefix) {
    return text.size() >= prefix.size() && EqualsNoCaseAscii(text.substr(0, prefix.size()), prefix);
}

int HexDigit(WChar c) {
    if (c >= KW('0') && c <= KW('9')) {
        return c - KW('0');
    }
    if (c >= KW('a') && c <= KW('f')) {
        return c - KW('a') + 10;
    }
    if (c >= KW('A') && c <= KW('F')) {
        return c - KW('A') + 10;
    }
    return -1;
}

// 1 to 8 hex digits and nothing else.
bool ParseHex32(WStringView text, uint32_t* number) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    uint32_t result = 0;
    for (WChar c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return false;
        }
        result = (result << 4) | static_cast<uint32_t>(digit);
    }
    *number = result;
    return true;
}

// A quoted text at the start of `text` (which begins with '"'); \\ and \" are escapes, any other backslash is
// kept. On success `text` is left after the closing quote.
bool ParseQuoted(WStringView* text, WString* out) {
    out->clear();
    size_t i = 1;
    while (i < text->size()) {
        const WChar c = (*text)[i];
        if (c == KW('"')) {
            text->remove_prefix(i + 1);
            return true;
        }
        if (c == KW('\\') && i + 1 < text->size() &&
            ((*text)[i + 1] == KW('\\') || (*text)[i + 1] == KW('"'))) {
            *out += (*text)[i + 1];
            i += 2;
            continue;
        }
        *out += c;
        ++i;
    }
    return false;
}

// "01,ff,0a" (blanks allowed around items, one trailing comma allowed; an empty list is no data).
bool ParseHexList(WStringView text, std::vector<uint8_t>* data) {
    data->clear();
    text = Trim(text);
    if (text.empty()) {
        return true;
    }
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(KW(','), start);
        const WStringView item =
            Trim(text.substr(start, comma == WStringView::npos ? WStringView::npos : comma - start));
        if (item.empty()) {
            // Only the item after a final comma may be empty.
            return comma == WStringView::npos && start > 0;
        }
        if (item.size() > 2) {
            return false;
        }
        uint32_t byte = 0;
        if (!ParseHex32(item, &byte)) {
            return false;
        }
        data->push_back(static_cast<uint8_t>(byte));
        if (comma == WStringView::npos) {
            return true;
        }
        start = comma + 1;
    }
    return true;
}

std::vector<uint8_t> StringData(WStringView text) {
    std::vector<uint8_t> data((text.size() + 1) * sizeof(WChar), 0);
    std::memcpy(data.data(), text.data(), text.size() * sizeof(WChar));
    return data;
}

std::vector<WStringView> SplitLines(WStringView text) {
    std::vector<WStringView> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == KW('\r') || text[i] == KW('\n')) {
            lines.push_back(text.substr(start, i - start));
            if (text[i] == KW('\r') && i + 1 < text.size() && text[i + 1] == KW('\n')) {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.push_back(text.substr(start));
    }
    return lines;
}

// Parses a whole regedit text into actions; ERROR_BADDB for anything it does not understand.
int32_t ParseRegText(WStringView text, std::vector<RegAction>* actions) {
    if (!text.empty() && text.front() == 0xFEFF) {
        text.remove_prefix(1);
    }
    const std::vector<WStringView> lines = SplitLines(text);
    size_t index = 0;
    while (index < lines.size() && Trim(lines[index]).empty()) {
        ++index;
    }
    if (index == lines.size() ||
        (Trim(lines[index]) != kRegeditHeader && Trim(lines[index]) != kRegedit4Header)) {
        return winerr::kBadDbFile;
    }
    ++index;
    bool haveKey = false;
    size_t root = 0;
    std::vector<WString> path;
    for (; index < lines.size(); ++index) {
        WStringView line = Trim(lines[index]);
        if (line.empty() || line.front() == KW(';')) {
            continue;
        }
        if (line.front() == KW('[')) {
            if (line.back() != KW(']') || line.size() < 3) {
                return winerr::kBadDbFile;
            }
            WStringView inner = line.substr(1, line.size() - 2);
            const bool remove = inner.front() == KW('-');
            if (remove) {
                inner.remove_prefix(1);
            }
            if (!ParseFullPath(inner, &root, &path)) {
                return winerr::kBadDbFile;
            }
            if (remove) {
                actions->push_back({RegAction::Kind::DeleteTree, root, path, {}, kRegNone, {}});
                haveKey = false;
            } else {
                actions->push_back({RegAction::Kind::CreateKey, root, path, {}, kRegNone, {}});
                haveKey = true;
            }
            continue;
        }
        if (!haveKey) {
            return winerr::kBadDbFile;
        }
        RegAction action{RegAction::Kind::SetValue, root, path, {}, kRegNone, {}};
        if (line.front() == KW('@')) {
            line.remove_prefix(1);
        } else if (line.front() == KW('"')) {
            if (!ParseQuoted(&line, &action.name) || action.name.empty()) {
                return winerr::kBadDbFile;
            }
        } else {
            return winerr::kBadDbFile;
        }
        line = Trim(line);
        if (line.empty() || line.front() != KW('=')) {
            return winerr::kBadDbFile;
        }
        line = Trim(line.substr(1));
        if (line == KW("-")) {
            action.kind = RegAction::Kind::DeleteValue;
        } else if (!line.empty() && line.front() == KW('"')) {
            WString textValue;
            if (!ParseQuoted(&line, &textValue) || !Trim(line).empty()) {
                return winerr::kBadDbFile;
            }
            action.type = kRegSz;
            action.data = StringData(textValue);
        } else if (StartsWithNoCase(line, KW("dword:"))) {
            uint32_t number = 0;
            if (!ParseHex32(line.substr(6), &number)) {
                return winerr::kBadDbFile;
            }
            action.type = kRegDword;
            action.data.resize(4);
            std::memcpy(action.data.data(), &number, 4);
        } else if (StartsWithNoCase(line, KW("hex"))) {
            line.remove_prefix(3);
            action.type = kRegBinary;
            if (StartsWith(line, KW("("))) {
                const size_t close = line.find(KW(')'));
                if (close == WStringView::npos || !ParseHex32(line.substr(1, close - 1), &action.type)) {
                    return winerr::kBadDbFile;
                }
                line.remove_prefix(close + 1);
            }
            if (!StartsWith(line, KW(":"))) {
                return winerr::kBadDbFile;
            }
            line.remove_prefix(1);
            // A list that ends with a backslash continues on the next line.
            WString list(line);
            while (!list.empty() && list.back() == KW('\\')) {
                list.pop_back();
                if (++index == lines.size()) {
                    return winerr::kBadDbFile;
                }
                list += Trim(lines[index]);
            }
            if (!ParseHexList(list, &action.data)) {
                return winerr::kBadDbFile;
            }
        } else {
            return winerr::kBadDbFile;
        }
        actions->push_back(std::move(action));
    }
    return winerr::kSuccess;
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
    uint32_t access = 0;
    int32_t result = impl_->Lookup(key, &node, &access);
    if (result != winerr::kSuccess) {
        return result;
    }
    if ((access & kKeyQueryValue) == 0) {
        return winerr::kAccessDenied;
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
    uint32_t access = 0;
    int32_t result = impl_->Lookup(key, &node, &access);
    if (result != winerr::kSuccess) {
        return result;
    }
    if ((access & kKeySetValue) == 0) {
        return winerr::kAccessDenied;
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
    uint32_t access = 0;
    int32_t result = impl_->Lookup(key, &node, &access);
    if (result != winerr::kSuccess) {
        return result;
    }
    if ((access & kKeySetValue) == 0) {
        return winerr::kAccessDenied;
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

int32_t MemoryRegistry::LoadRegFile(const WChar* path) {
    std::vector<uint8_t> bytes;
    const int32_t result = ReadWholeFile(path, kMaxRegFileBytes, &bytes);
    if (result != winerr::kSuccess) {
        return result;
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (bytes.size() % 2 != 0) {
            return winerr::kBadDbFile;
        }
        WString text((bytes.size() - 2) / 2, KW('\0'));
        for (size_t i = 0; i < text.size(); ++i) {
            text[i] = static_cast<WChar>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        }
        return LoadRegText(text);
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        return winerr::kBadDbFile;  // big-endian UTF-16 is not a format regedit writes
    }
    std::string_view utf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (utf8.substr(0, 3) == "\xEF\xBB\xBF") {
        utf8.remove_prefix(3);
    }
    return LoadRegText(Utf8ToUtf16(utf8));
}

int32_t MemoryRegistry::SaveRegFile(const WChar* path) const {
    const WString text = SaveRegText();
    std::vector<uint8_t> bytes;
    bytes.reserve(2 + text.size() * 2);
    bytes.push_back(0xFF);
    bytes.push_back(0xFE);
    for (WChar c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return WriteWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace korva::platform
