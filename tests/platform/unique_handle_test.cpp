#include "platform/unique_handle.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace korva {
namespace {

std::vector<int> g_closed;  // every value the policy closed, in order

struct CountingPolicy {
    using Type = int;
    static constexpr int Invalid() { return -1; }
    static void Close(int value) noexcept { g_closed.push_back(value); }
};
using Handle = UniqueHandle<CountingPolicy>;

TEST(UniqueHandleTest, EachOperationClosesExactlyWhatItReplaces) {
    const std::pair<void (*)(), std::vector<int>> kRows[] = {
        // the steps, what they and the scope's end closed
        // clang-format off
        {[] { Handle h(0); }, {0}},  // 0 is valid: only Invalid() owns nothing
        {[] { Handle h; }, {}},
        {[] { Handle h(1); h.reset(2); }, {1, 2}},
        {[] { Handle h(1); h.reset(); EXPECT_FALSE(h); }, {1}},
        {[] { Handle h(1); EXPECT_EQ(h.release(), 1); EXPECT_EQ(h.get(), -1); }, {}},
        {[] { Handle a(1); Handle b(std::move(a)); EXPECT_FALSE(a.valid()); EXPECT_EQ(b.get(), 1); }, {1}},
        {[] { Handle a(1); Handle b(2); b = std::move(a); EXPECT_EQ(g_closed.size(), 1u); }, {2, 1}},
        {[] { Handle a(1); Handle& self = a; a = std::move(self); EXPECT_EQ(a.get(), 1); }, {1}},
        // put() closes the old value before it hands out the slot.
        {[] { Handle h(1); int* p = h.put(); EXPECT_TRUE(g_closed.size() == 1 && *p < 0); *p = 7; }, {1, 7}},
        // A ScopeExit runs at the end of its scope unless dismissed.
        {[] { const ScopeExit run([] { g_closed.push_back(1); });
              ScopeExit skipped([] { g_closed.push_back(2); }); skipped.Dismiss(); }, {1}},
        // clang-format on
    };
    for (const auto& [run, closed] : kRows) {
        g_closed.clear();
        run();
        EXPECT_EQ(g_closed, closed) << (&closed - &kRows[0].second);
    }
}

}  // namespace
}  // namespace korva
