// The process-wide instances the library creates when it is loaded and discards when it is unloaded.
#include <gtest/gtest.h>

#include "infra/locale.h"
#include "infra/log.h"
#include "infra/startup.h"
#include "platform/module.h"

namespace korva {
namespace {

TEST(StartupTest, LoadCreatesUnconfiguredInstancesAndUnloadDiscardsTheirState) {
    int moduleMarker = 0;
    StartProcessInstances(&moduleMarker);
    EXPECT_EQ(platform::GetModuleHandle(), &moduleMarker);
    EXPECT_EQ(LocaleTexts().GetCurrentLanguageId(), kLanguageIdEnglish);
    EXPECT_FALSE(LocaleTexts().IsLoaded());
    EXPECT_EQ(TraceSettings().mask, 7u);
    EXPECT_TRUE(TraceSettings().path.empty());
    EXPECT_TRUE(SharedFileHandler().FileName().empty());

    // State a running library accumulates: a language, a trace file, records nobody flushed.
    LocaleTexts().Configure(nullptr, KW("German"), 0);
    TraceSettings().path = KW("trace.txt");
    TraceSettings().mask = 1;
    cGjLog log;
    log.AddHandler(&SharedFileHandler());
    log.LogMessage(kLogError, KW("never flushed"));
    ASSERT_GT(SharedFileHandler().PendingCount(), 0u);

    StopProcessInstances();
    EXPECT_EQ(SharedFileHandler().PendingCount(), 0u) << "unflushed records are discarded, not kept";
    EXPECT_TRUE(TraceSettings().path.empty());
    EXPECT_EQ(TraceSettings().mask, 7u);

    // A second load starts from scratch.
    StartProcessInstances(nullptr);
    EXPECT_EQ(LocaleTexts().GetCurrentLanguageId(), kLanguageIdEnglish);
    EXPECT_EQ(LocaleTexts().GetLanguageName(), KW("English"));
    StopProcessInstances();
}

}  // namespace
}  // namespace korva
