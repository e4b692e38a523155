// Filters refused by text and size, and escapes; what accepted forms match is asked of the snapshot.
#include "directory/ldap_filter.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace korva::ldapfilter {
namespace {

TEST(LdapFilterTest, Refusals) {
    using namespace std::string_view_literals;
    for (const std::string_view text :
         {""sv, "(cn=a"sv, "(cn=a)(cn=b)"sv, "(=a)"sv, "(cn)"sv, "(cn>a)"sv, "(cn=a\\2)"sv, "(cn=a**b)"sv,
          "(cn~=a*)"sv, "(cn>=*)"sv, "(!(cn=a)(cn=b))"sv, "(&(cn=a)x)"sv, "(:=x)"sv, "(cn:r1:r2:=x)"sv,
          "(cn:=)x"sv, "(&(cn=a)"sv, "(cn=a\0b)"sv}) {
        Node root;
        std::string error;
        EXPECT_FALSE(Parse(text, FilterLimits{}, &root, &error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(LdapFilterTest, Limits) {
    std::string deep = "(cn=a)", wide = "(cn=a)";
    for (int i = 0; i < 40; ++i) {
        deep = "(!" + deep + ")";
    }
    for (int i = 1; i < 50; ++i) {
        wide += "(cn=a)";
    }
    wide = "(|" + wide + ")";
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
