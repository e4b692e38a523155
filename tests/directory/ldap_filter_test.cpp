// Search filters in text form: the tree each form gives, escapes, and the texts and sizes refused.
#include "directory/ldap_filter.h"

#include <gtest/gtest.h>

#include <string>

namespace korva::ldapfilter {
namespace {

// The tree in a compact prefix form: &(...) |(...) !(...), =attr:value, ~attr:value, >attr:value,
// <attr:value, ?attr, sub attr:initial*any*final, ext attr:dn:rule:value.
std::string Show(const Node& n) {
    std::string children;
    for (const Node& c : n.children) {
        children += "(" + Show(c) + ")";
    }
    switch (n.kind) {
        case Kind::And:
            return "&" + children;
        case Kind::Or:
            return "|" + children;
        case Kind::Not:
            return "!" + children;
        case Kind::Equal:
            return "=" + n.attribute + ":" + n.value;
        case Kind::Approx:
            return "~" + n.attribute + ":" + n.value;
        case Kind::GreaterOrEqual:
            return ">" + n.attribute + ":" + n.value;
        case Kind::LessOrEqual:
            return "<" + n.attribute + ":" + n.value;
        case Kind::Present:
            return "?" + n.attribute;
        case Kind::Substrings: {
            std::string text = "sub " + n.attribute + ":" + n.initial;
            for (const std::string& a : n.any) {
                text += "*" + a;
            }
            return text + "*" + n.final;
        }
        case Kind::Extensible:
            return "ext " + n.attribute + ":" + (n.dnAttributes ? "dn" : "") + ":" + n.rule + ":" + n.value;
    }
    return "?";
}

TEST(LdapFilterTest, Forms) {
    const std::pair<const char*, std::string> rows[] = {
        {"(cn=Alex)", "=cn:Alex"},
        {"cn=Alex", "=cn:Alex"},

        {"(objectClass=*)", "?objectClass"},
        {"(cn~=al)", "~cn:al"},
        {"(pwdLastSet>=0)", ">pwdLastSet:0"},
        {"(pwdLastSet<=-1)", "<pwdLastSet:-1"},
        {"(cn=a*)", "sub cn:a*"},

        {"(cn=a*b*c*d)", "sub cn:a*b*c*d"},

        {"(&(objectClass=user)(|(sAMAccountName=ab)(userPrincipalName=ab@x))(!(cn=c)))",
         "&(=objectClass:user)(|(=sAMAccountName:ab)(=userPrincipalName:ab@x))(!(=cn:c))"},
        {"(&)", "&"},

        {"(objectSid=\\01\\05\\00\\ff)", "=objectSid:" + std::string("\x01\x05\0\xff", 4)},
        {"(cn=\\2a\\28\\29\\5C)", "=cn:*()\\"},

        {"(member:1.2.840.113556.1.4.1941:=CN=G,DC=x)", "ext member::1.2.840.113556.1.4.1941:CN=G,DC=x"},
        {"(userAccountControl:1.2.840.113556.1.4.803:=2)",
         "ext userAccountControl::1.2.840.113556.1.4.803:2"},
        {"(cn:dn:2.5.13.5:=x)", "ext cn:dn:2.5.13.5:x"},

        {"(cn:=x)", "ext cn:::x"},

    };
    for (const auto& [text, tree] : rows) {
        Node root;
        std::string error;
        ASSERT_TRUE(Parse(text, FilterLimits{}, &root, &error)) << text << ": " << error;
        EXPECT_EQ(Show(root), tree) << text;
    }
}

TEST(LdapFilterTest, Refusals) {
    for (const char* text : {
             "",
             "(cn=a",
             "(cn=a)(cn=b)",
             "(=a)",
             "(cn)",
             "(cn>a)",
             "(cn=a\\2)",
             "(cn=a**b)",
             "(cn~=a*)",
             "(cn>=*)",
             "(!(cn=a)(cn=b))",
             "(&(cn=a)x)",
             "(:=x)",
             "(cn:r1:r2:=x)",
             "(cn:=)x",
             "(&(cn=a)",
         }) {
        Node root;
        std::string error;
        EXPECT_FALSE(Parse(text, FilterLimits{}, &root, &error)) << text << " gave " << Show(root);
        EXPECT_FALSE(error.empty()) << text;
    }
    Node root;
    std::string error;
    EXPECT_FALSE(Parse(std::string("(cn=a\0b)", 8), FilterLimits{}, &root, &error));
}

TEST(LdapFilterTest, Limits) {
    std::string deep;
    for (int i = 0; i < 40; ++i) {
        deep += "(!";
    }
    deep += "(cn=a)";
    deep += std::string(40, ')');
    std::string wide = "(|";
    for (int i = 0; i < 50; ++i) {
        wide += "(cn=a)";
    }
    wide += ")";
    const struct {
        std::string text;
        FilterLimits limits;
        bool accepted;
    } rows[] = {
        {deep, FilterLimits{1000, 40, 100}, false}, {deep, FilterLimits{1000, 41, 100}, true},
        {wide, FilterLimits{1000, 4, 51}, true},    {wide, FilterLimits{1000, 4, 50}, false},
        {"(cn=abc)", FilterLimits{8, 4, 4}, true},  {"(cn=abcd)", FilterLimits{8, 4, 4}, false},
    };
    for (const auto& r : rows) {
        Node root;
        std::string error;
        EXPECT_EQ(Parse(r.text, r.limits, &root, &error), r.accepted)
            << r.text.substr(0, 20) << ": " << error;
    }
}

TEST(LdapFilterTest, EscapedValuesParseBack) {
    for (const std::string& value :
         {std::string("*()\\"), std::string("\x01\x05\0\xff", 4), std::string("")}) {
        Node root;
        std::string error;
        ASSERT_TRUE(Parse("(objectSid=" + EscapeValue(value) + ")", FilterLimits{}, &root, &error)) << error;
        EXPECT_EQ(root.value, value);
    }
}

}  // namespace
}  // namespace korva::ldapfilter
