// CScope: one set of directory users a policy applies to (a user, a group's members, an organisational unit
// with or without its sub-units, a domain), and the same class as the *user scope* of the person changing a
// password.
//
// Names are compared as Active Directory canonical names ("a.b/Sales/Staff/John Smith"), ASCII case ignored;
// group membership is decided on distinguished names gathered from the directory's "memberOf" links. All
// directory access goes through the directory seam (directory/directory.h), so tests run against a fake.
#pragma once

#include <cstdint>
#include <set>

#include "platform/text.h"

namespace korva {

class cGjLog;

namespace xml {
class Node;
}

enum ScopeType : int32_t {
    ST_USERS = 0,     // one user, identified by SID; canonical name equality
    ST_GROUPS = 1,    // members of a group; group-set intersection
    ST_OU = 2,        // anything below an organisational unit; canonical-name prefix followed by "/"
    ST_DOMAIN = 3,    // anything in a domain; canonical-name prefix
    ST_SINGLEOU = 4,  // objects directly in an organisational unit
    ST_NONE = 5,      // not set; a user scope that could not be resolved
};

// Distinguished names, compared as whole strings code unit by code unit.
using GroupSet = std::set<WString>;

class CScope {
  public:
    CScope() = default;
    virtual ~CScope();
    CScope(const CScope&) = delete;
    CScope& operator=(const CScope&) = delete;

    // Fills the scope from a "Scope" element: attribute "type", children "SID", "CanonicalName", "Name" and
    // "Groups"/"Group". 0, -11 (type missing or not a number), -12 (no children) or the DOM's HRESULT.
    int32_t LoadFromXML(cGjLog& log, const xml::Node& element);

    // Refreshes CanonicalName and Name from the directory according to the type. 0 or the directory's code.
    int32_t Update(cGjLog& log);

    // Turns this object into the user scope of `userName` in `domainName` (null: the computer's own domain).
    // A non-zero result means the user was not found.
    int32_t CreateUserScope(cGjLog& log, const WChar* userName, const WChar* domainName);

    // Does this (policy) scope cover `userScope`? *matched is false unless a match was found. The user
    // scope's group set is computed on the first group comparison and kept for later ones, hence non-const.
    int32_t Match(cGjLog& log, CScope& userScope, bool* matched);

    // Borrowed field values; null when the field holds no text.
    const WChar* GetSID() const { return OrNull(sid_); }
    const WChar* GetCanonicalName() const { return OrNull(canonicalName_); }
    const WChar* GetName() const { return OrNull(name_); }
    int32_t GetType() const { return type_; }
    const GroupSet& GetGroups() const { return groups_; }

    // For the tests and for callers that build scopes without XML; an empty text clears the field.
    void SetSID(WStringView sid) { sid_ = WString(sid); }
    void SetCanonicalName(WStringView name) { canonicalName_ = WString(name); }
    void SetName(WStringView name) { name_ = WString(name); }
    void SetType(int32_t type) { type_ = type; }

  private:
    static const WChar* OrNull(const WString& s) { return s.empty() ? nullptr : s.c_str(); }
    int32_t LoadGroupsFromXML(cGjLog& log, const xml::Node& element);
    friend int32_t IntersectGroups(CScope& userScope, cGjLog& log, const WChar* scopeCanonicalName,
                                   GroupSet& scopeGroupSet, GroupSet* result);

    WString sid_;
    WString canonicalName_;
    WString name_;
    int32_t type_ = ST_NONE;
    GroupSet groups_;
};

// Adds the object `distinguishedName` and every group it is transitively a member of ("memberOf") to
// `groups`. Stops at names already in the set, so membership cycles end. 0 or the first directory failure on
// the walk.
int32_t EnumerateGroups(cGjLog& log, const WChar* distinguishedName, GroupSet& groups);

// Fills the user's and the scope's group sets when they are still empty and stores their intersection in
// *result.
int32_t IntersectGroups(CScope& userScope, cGjLog& log, const WChar* scopeCanonicalName,
                        GroupSet& scopeGroupSet, GroupSet* result);

}  // namespace korva
