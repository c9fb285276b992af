// The platform layer's own behaviour: localized texts and notifications.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/LocalizedStrings.h"
#include "platform/NotificationCenter.h"
#include "support/RecordingBackend.h"

namespace spatialmux::platform {
namespace {

class LanguageGuard {
public:
    explicit LanguageGuard(const std::string& language) { SetLanguage(language); }
    ~LanguageGuard() { SetLanguage(""); }
};

TEST(LocalizedStrings, EveryAlertHasATextInEveryLanguage) {
    for (const char* language : {"en", "ja"}) {
        LanguageGuard guard(language);
        for (int i = 1; i <= 7; ++i) {
            const std::string key = "alert" + std::to_string(i);
            EXPECT_FALSE(LocalizedString(key).empty()) << language << " " << key;
        }
        EXPECT_FALSE(LocalizedString("ok").empty()) << language;
    }
}

TEST(LocalizedStrings, LanguagesDifferAndUnknownOnesFallBackToEnglish) {
    std::string english, japanese, german;
    {
        LanguageGuard guard("en");
        english = LocalizedString("alert3");
    }
    {
        LanguageGuard guard("ja");
        japanese = LocalizedString("alert3");
    }
    {
        LanguageGuard guard("de");
        german = LocalizedString("alert3");
    }
    EXPECT_NE(english, japanese);
    EXPECT_EQ(german, english);
    EXPECT_EQ(LocalizedString("no such key"), "");
}

TEST(LocalizedStrings, EscapesBecomeCharacters) {
    LanguageGuard guard("en");
    EXPECT_NE(LocalizedString("alert1").find('\n'), std::string::npos);
    EXPECT_EQ(LocalizedString("alert1").find("\\n"), std::string::npos);
}

TEST(LocalizedStrings, LanguageComesFromTheUsualVariables) {
    const char* saved = std::getenv("LANGUAGE");
    const std::string restore = saved ? saved : "";
    setenv("LANGUAGE", "ja_JP.UTF-8", 1);
    EXPECT_EQ(CurrentLanguage(), "ja");
    setenv("LANGUAGE", "C", 1);
    EXPECT_EQ(CurrentLanguage(), "en");
    if (saved)
        setenv("LANGUAGE", restore.c_str(), 1);
    else
        unsetenv("LANGUAGE");
}

TEST(NotificationCenter, DeliversByNameInOrderUntilRemoved) {
    testing::RecordingBackend backend;
    NotificationCenter center;
    std::vector<std::string> seen;
    Subscription a = center.AddObserver("A", [&](const Notification& n) {
        seen.push_back("a" + std::to_string(static_cast<int>(n.number)));
    });
    const Subscription b =
        center.AddObserver("B", [&](const Notification&) { seen.push_back("b"); });
    for (int i = 1; i <= 3; ++i) {
        Notification n;
        n.name = "A";
        n.number = static_cast<float>(i);
        center.PostOnMainThread(n);
    }
    center.Post(Notification{"B", {}, 0.0f});
    a.Reset();
    center.Post(Notification{"A", {}, 9.0f});
    EXPECT_EQ(seen, (std::vector<std::string>{"a1", "a2", "a3", "b"}));
}

TEST(NotificationCenter, ASubscriptionRemovesItsObserverWhereverItEnds) {
    testing::RecordingBackend backend;
    NotificationCenter center;
    int calls = 0;
    const auto post = [&center] { center.Post(Notification{"A", {}, 0.0f}); };
    {
        const Subscription scoped = center.AddObserver("A", [&](const Notification&) { ++calls; });
        post();
    }
    post();
    EXPECT_EQ(calls, 1);

    // Moved: the observer stays until the new owner ends, once.
    Subscription moved;
    {
        Subscription first = center.AddObserver("A", [&](const Notification&) { ++calls; });
        moved = std::move(first);
        EXPECT_FALSE(first.Active());
    }
    post();
    EXPECT_EQ(calls, 2);
    // Assigning over a live subscription removes the observer it held.
    moved = center.AddObserver("A", [&](const Notification&) { calls += 10; });
    post();
    EXPECT_EQ(calls, 12);
    moved.Reset();
    moved.Reset();
    post();
    EXPECT_EQ(calls, 12);
}

}  // namespace
}  // namespace spatialmux::platform
