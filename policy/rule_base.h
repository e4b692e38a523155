// CRuleBase: what every password rule shares (the enabled flag and a description per language), the virtual
// interface through which a policy tests a password, the rule factory that turns a "Rule" element into rule
// objects, and the two small readers the whole engine uses (strict integers, case-insensitive attributes).
//
// The rule types as written in the "type" attribute of a "Rule" element are one table (RuleTypes()): number,
// class, display name, factory and the settings tools show. Type 4 is the one element that makes two rules,
// a name similarity and a password similarity rule (GetType 6 and 7).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "platform/result_codes.h"
#include "platform/text.h"

namespace korva {

class cGjLog;
class CScope;

namespace xml {
class Node;
}

// Windows primary language identifiers the system has texts for; any other number read from XML is kept too.
enum LanguageId : uint32_t {
    kLangChinese = 4,
    kLangCzech = 5,
    kLangGerman = 7,
    kLangEnglish = 9,
    kLangSpanish = 10,
    kLangFinnish = 11,
    kLangFrench = 12,
    kLangHungarian = 14,
    kLangItalian = 16,
    kLangDutch = 19,
    kLangPolish = 21,
    kLangPortuguese = 22,
    kLangRussian = 25,
};

// Language -> description text. An empty text counts as no text.
using DescriptionMap = std::map<uint32_t, WString>;

// One setting of a rule as the tools show it: an ASCII name (also its JSON key) and a value. A null text is
// no text; the list is borrowed from the rule, and an empty item in it is an item whose element was empty.
struct RuleSetting {
    using Value = std::variant<int64_t, bool, float, const WChar*, const std::vector<WString>*>;
    const char* name;
    Value value;

    static RuleSetting Int(const char* name, int64_t value) {
        return {name, Value(std::in_place_index<0>, value)};
    }
    static RuleSetting Bool(const char* name, bool value) {
        return {name, Value(std::in_place_index<1>, value)};
    }
    static RuleSetting Float(const char* name, float value) {
        return {name, Value(std::in_place_index<2>, value)};
    }
    static RuleSetting Text(const char* name, const WChar* value) {
        return {name, Value(std::in_place_index<3>, value)};
    }
    static RuleSetting List(const char* name, const std::vector<WString>& value) {
        return {name, Value(std::in_place_index<4>, &value)};
    }
};
using RuleSettings = std::vector<RuleSetting>;

// Reads one named child of an element for WalkNamedChildren.
using ChildReader =
    std::function<std::optional<int32_t>(const WString& name, const xml::Node& child, int32_t& result)>;

class CRuleBase {
  public:
    CRuleBase() = default;
    // Copies every description; the rule starts disabled (the built-in default rules of a policy).
    explicit CRuleBase(const DescriptionMap& descriptions) : descriptions_(descriptions) {}
    virtual ~CRuleBase() = default;
    CRuleBase(const CRuleBase&) = delete;
    CRuleBase& operator=(const CRuleBase&) = delete;

    // A new rule of the same class with the same parameters, descriptions and enabled flag; null in the base.
    virtual std::unique_ptr<CRuleBase> Clone() const { return nullptr; }

    // Tests `newPassword` (may be null) for `userScope`. Returns 0 when the rule could be evaluated, with
    // *valid true when the password satisfies the rule; otherwise an error code (*valid then says nothing).
    // Every rule writes *valid on every path that returns 0, because a policy passes the same variable to
    // each rule. `reserved` is always null. Passwords are never logged.
    virtual int32_t Test(cGjLog& log, bool* valid, CScope* userScope, const WChar* newPassword,
                         const WChar* reserved, const WChar* oldPassword) = 0;

    // The rule's type number (RuleTypes()); 0 in the base.
    virtual int32_t GetType() const { return 0; }

    // The name administrators know the rule by: the type's display name, "Unknown rule" for a type that has
    // none.
    virtual const WChar* GetDisplayName() const;

    // The rule's own settings in a fixed order (the names its row of RuleTypes() lists); none in the base.
    virtual RuleSettings DescribeSettings() const { return {}; }

    // Reads the rule's settings from its "Rule" element. The base reads the shared children "Enabled" and
    // "Description" and ignores `version` (the policy document's version text, null when it has none).
    virtual int32_t LoadFromXML(cGjLog& log, const xml::Node& element, const WChar* version);

    bool IsEnabled() const { return enabled_; }
    // The text for `language`, else the English one; null when neither is stored. Borrowed.
    const WChar* GetDescription(uint32_t language) const;
    // Stores a copy of `text` for `language`, replacing an earlier one.
    void SetDescription(uint32_t language, WStringView text);
    const DescriptionMap& GetDescriptions() const { return descriptions_; }

    // The texts of a rule whose only setting is one integer child of its element (the length and age rules).
    struct IntegerChildTexts {
        const WChar* childName;       // "MinimumLength"
        const WChar* listFailure;     // the child list could not be read
        const WChar* loadingDebug;    // logged before the children are read; null for none
        const WChar* readFailure;     // the child's text could not be read
        const WChar* convertFailure;  // the text is not a strict integer
    };

  protected:
    // The loading every rule family shares: the children (OpenRuleChildren with `listFailure` and `loading`),
    // the walk with `read`, then, unless a reader ended the walk, the shared children with
    // CRuleBase::LoadFromXML, whose result is not used. The walk's code.
    [[nodiscard]] int32_t LoadChildren(cGjLog& log, const xml::Node& element, const WChar* version,
                                       const WChar* listFailure, const WChar* loading,
                                       const ChildReader& read);

    // Reads such an element: `converted` receives the value of each strict-integer child text, `invalid` is
    // called for each one that is not and returns what is used instead, for the load report (both log their
    // own success lines), then the shared children are read with CRuleBase::LoadFromXML, whose result is not
    // used. 0, -12 (no children), or the DOM's HRESULT.
    int32_t LoadIntegerChild(cGjLog& log, const xml::Node& element, const WChar* version,
                             const IntegerChildTexts& texts, const std::function<void(int32_t)>& converted,
                             const std::function<WString()>& invalid);

    // For Clone and for tests of the concrete rules.
    void CopyBaseTo(CRuleBase& target) const {
        target.enabled_ = enabled_;
        target.descriptions_ = descriptions_;
    }
    void SetEnabled(bool enabled) { enabled_ = enabled; }

  private:
    bool enabled_ = false;
    DescriptionMap descriptions_;
};

// A policy's rules in document order; owned.
using RuleList = std::vector<std::unique_ptr<CRuleBase>>;

// One rule type. `makes` lists the rule classes (by their type numbers) one element of this type becomes:
// the type itself, except type 4. `settings` names what DescribeSettings returns, in order.
struct RuleTypeInfo {
    int32_t type;
    const char* className;
    const WChar* displayName;
    std::unique_ptr<CRuleBase> (*create)();  // an empty rule that LoadFromXML fills; null for type 4
    const WChar* loadFailure;                // logged with a negative load result
    std::array<int32_t, 2> makes;            // 0: none
    std::array<const char*, 4> settings;     // null: none
};

// Every rule type, numbered 1 to 8 in order.
std::span<const RuleTypeInfo> RuleTypes();
// The row of `type`, or null for a number that is no rule type.
const RuleTypeInfo* FindRuleType(int32_t type);

// Reads a "Rule" element: creates the class(es) for its "type", lets each read the element and appends it to
// `rules` (also when its load failed; the policy then fails and destroys it). 0, -11 (type missing, not a
// number or unknown), the last negative load result, or the DOM's HRESULT.
int32_t CreateRule(cGjLog& log, const xml::Node& element, RuleList* rules, const WChar* version);

// The rule's display name for log texts ("Minimum Password Length", ..., "Unknown rule" also for null).
const WChar* GetRuleName(const CRuleBase* rule);

// Strict decimal integer text: non-empty, first character "-" or a digit, every other character a digit
// ("-" alone is 0). On success *value is the number and true is returned; otherwise *value is 0 and false.
// A number that does not fit in 32 bits is not a number.
bool StringToInt(const WChar* text, int32_t* value);

// The opening every rule loader shares: whether the element has children (none: "Rule is empty.", -12), then
// its child list. `listFailure` is logged when the list cannot be read, `loading` (null for none) at Debug
// before the children are walked. 0 with `children` filled, or the code the loader returns.
int32_t OpenRuleChildren(cGjLog& log, const xml::Node& element, const WChar* listFailure,
                         const WChar* loading, std::vector<xml::Node>* children);

// The walk every loader makes over an element's children. A child whose name cannot be read is logged ("An
// error occurred getting base name of child.") and its status becomes the result; `read(name, child, result)`
// handles every other child, may change the walk's result, and returns the code to end the walk with, or
// nothing to go on (ChildReader). The walk returns that code or, when no reader ended it, the result; `stopped`
// (if given) tells which.
[[nodiscard]] int32_t WalkNamedChildren(cGjLog& log, const std::vector<xml::Node>& children,
                                        const ChildReader& read, bool* stopped = nullptr);

// A ChildReader that hands the text of each child named `name` to `take`, logging `added` at Debug; a text
// that cannot be read is logged with `readFailure` and ends the walk. Other children are passed over.
[[nodiscard]] ChildReader TextsOf(cGjLog& log, const WChar* name, const WChar* readFailure,
                                  const WChar* added, std::function<void(WString&&)> take);

// The first attribute of `element` whose local name equals `name`, ASCII case ignored: 0 with a copy of its
// text, or S_FALSE (1) with *value cleared and nothing logged when there is none, or the DOM's HRESULT.
int32_t ReadAttribute(cGjLog& log, const xml::Node& element, const WChar* name, WString* value);

// The rule families that live in their own sources (regular expression, similarity, blacklist) offer these,
// so that the factory and the policy need none of their headers:
// - an empty rule that LoadFromXML fills (the factory):
std::unique_ptr<CRuleBase> NewRegexRule();
std::unique_ptr<CRuleBase> NewNameSimilarityRule();
std::unique_ptr<CRuleBase> NewPasswordSimilarityRule();
std::unique_ptr<CRuleBase> NewBlackListRule();
// - the built-in rules of a new policy's default rule set (disabled, with built-in descriptions):
std::unique_ptr<CRuleBase> CreateRegexRule(int32_t kind, const WChar* expression);
std::unique_ptr<CRuleBase> CreateNameSimilarityRule(bool checkUsername, bool checkFullname);
std::unique_ptr<CRuleBase> CreatePasswordSimilarityRule(bool checkPassword);
std::unique_ptr<CRuleBase> CreateBlackListRule(int32_t interpretation);

}  // namespace korva
