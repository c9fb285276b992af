// The platform layer's own behaviour: localized texts and notifications.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
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

std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The keys of a .strings file, each with its text.
std::map<std::string, std::string> StringsFile(const char* language) {
    const std::string text = ReadText(std::filesystem::path(SPATIALMUX_SOURCE_DIR) / "resources" /
                                      "strings" / (std::string(language) + ".strings"));
    static const std::regex entry(R"re(^"([^"]+)" = "((?:[^"\\]|\\.)*)";)re",
                                  std::regex::multiline);
    std::map<std::string, std::string> keys;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry);
         it != std::sregex_iterator(); ++it) {
        keys[(*it)[1]] = (*it)[2];
    }
    return keys;
}

// Every key the programs show the user, as the sources name them: what is
// passed to the string look-ups, and the dotted keys of their tables (the
// row actions, the formats, the phases). A key missing from a language
// would show the user an empty text.
TEST(LocalizedStrings, EveryKeyTheSourcesUseHasATextInEveryLanguage) {
    static const std::regex call(R"re((?:QueueText|LocalizedString|Text)\(\s*"([^"]+)"\s*[,)])re");
    static const std::regex dotted(R"re("([a-z][a-z0-9]*(?:\.[a-z0-9]+)+)")re");
    static const std::regex phase(R"re((?:kPhase\w+ = |myPhase_update\()"([a-z]+)")re");
    std::set<std::string> used;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             std::string(SPATIALMUX_SOURCE_DIR) + "/src")) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".cpp" && ext != ".h") continue;
        std::istringstream lines(ReadText(entry.path()));
        for (std::string line; std::getline(lines, line);) {
            // Comments name example files ("clip.mov"), not keys.
            const std::string code = line.substr(0, line.find("//"));
            for (const std::regex* pattern : {&call, &dotted}) {
                for (auto it = std::sregex_iterator(code.begin(), code.end(), *pattern);
                     it != std::sregex_iterator(); ++it) {
                    used.insert((*it)[1]);
                }
            }
            for (auto it = std::sregex_iterator(code.begin(), code.end(), phase);
                 it != std::sregex_iterator(); ++it) {
                used.insert("phase." + (*it)[1].str());
            }
        }
    }
    ASSERT_GT(used.size(), 80u);
    const auto english = StringsFile("en");
    const auto japanese = StringsFile("ja");
    for (const std::string& key : used) {
        EXPECT_EQ(english.count(key), 1u) << "en.strings lacks " << key;
        EXPECT_EQ(japanese.count(key), 1u) << "ja.strings lacks " << key;
    }
    for (const auto& [key, text] : english) {
        EXPECT_EQ(japanese.count(key), 1u) << "ja.strings lacks " << key;
    }
    for (const auto& [key, text] : japanese) {
        EXPECT_EQ(english.count(key), 1u) << "en.strings lacks " << key;
        // The word for a movie is one in every Japanese text.
        EXPECT_EQ(text.find("ムービー"), std::string::npos) << key << ": " << text;
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
