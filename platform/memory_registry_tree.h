// The in-memory registry's key tree and its regedit-format text, shared by the registry itself
// (memory_registry.cpp) and its reader and writer (regedit_format.cpp). Internal to the platform library.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/text.h"

namespace korva::platform::regtree {

// Windows limits value names to 16,383 characters and key name components to 255.
constexpr size_t kMaxValueName = 16'383;
constexpr size_t kMaxKeyComponent = 255;

constexpr WStringView kRegeditHeader = KW("Windows Registry Editor Version 5.00");
constexpr WStringView kRegedit4Header = KW("REGEDIT4");
constexpr WStringView kWow6432Node = KW("WOW6432Node");

struct RootName {
    RegKey key;
    WStringView name;
    WStringView shortName;
};
inline constexpr RootName kRoots[] = {
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

// One line of a .reg file turned into an action; a file is applied only when every line parsed.
struct RegAction {
    enum class Kind { CreateKey, DeleteTree, SetValue, DeleteValue } kind;
    size_t root = 0;
    std::vector<WString> path;
    WString name;
    uint32_t type = kRegNone;
    std::vector<uint8_t> data;
};

// Splits "A\B\C" into components. A trailing backslash is allowed; a leading one or an empty component is
// not.
bool SplitKeyPath(WStringView path, std::vector<WString>* parts);
std::optional<size_t> RootIndexByName(WStringView name);
// "HKEY_LOCAL_MACHINE\A\B" -> root index and components.
bool ParseFullPath(WStringView fullPath, size_t* root, std::vector<WString>* parts);

// A REG_SZ value's bytes: the text's code units and a terminating zero.
std::vector<uint8_t> StringData(WStringView text);
// Appends `node` (named `path`) and everything below it, regedit's way; a root without values only lists its
// children.
void AppendKey(WString* out, const Node& node, const WString& path, bool isRoot);
// The whole text as actions, or ERROR_BADDB for anything malformed.
[[nodiscard]] int32_t ParseRegText(WStringView text, std::vector<RegAction>* actions);

}  // namespace korva::platform::regtree
