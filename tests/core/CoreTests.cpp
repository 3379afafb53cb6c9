#include "app/core/CapturedContext.h"
#include "app/core/Defaults.h"
#include "app/core/Text.h"
#include "app/core/UserDefaults.h"
#include "fakes/MemoryPreferencesStore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace zorvane;
using fakes::MemoryPreferencesStore;

// A number stored as another kind of number (an older version, a hand-edited file) still reads.
TEST(UserDefaults, NumbersReadAcrossTypesAndAbsentValuesAsNothing)
{
    auto store = std::make_shared<MemoryPreferencesStore>(PreferenceDomain {{"int", std::int64_t {2}}, {"real", 1500.75}});
    UserDefaults d(store);
    EXPECT_EQ(d.doubleForKey("int"), 2.0);
    EXPECT_EQ(d.integerForKey("real"), 1500);
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_FALSE(d.stringForKey("missing"));
}

TEST(UserDefaults, RegisteredValuesAreFallbacksOnlyAndWritesAreSeenToldAndSavedAtOnce)
{
    auto store = std::make_shared<MemoryPreferencesStore>(PreferenceDomain {{"motionThreshold", 1200.0}});
    UserDefaults d(store);
    d.registerDefaults({{"motionThreshold", 2200.0}, {"voiceEnabled", true}});
    EXPECT_EQ(d.doubleForKey("motionThreshold"), 1200.0) << "a registration never replaces a stored value";
    EXPECT_TRUE(d.boolForKey("voiceEnabled"));
    EXPECT_EQ(store->stored().count("voiceEnabled"), 0u) << "nor is it written";

    std::vector<std::string> heard;
    const auto token = d.addObserver([&](const std::string& key) {
        heard.push_back(key);
        if (key == "voiceEnabled") d.setInteger("b", 2); // writing from the callback must not deadlock
    });
    d.setBool("voiceEnabled", false);
    EXPECT_FALSE(d.boolForKey("voiceEnabled"));
    EXPECT_EQ(store->stored().at("voiceEnabled"), PreferenceValue(false));
    d.removeObject("voiceEnabled");
    EXPECT_TRUE(d.boolForKey("voiceEnabled")) << "back to the fallback";
    EXPECT_EQ(store->stored().count("voiceEnabled"), 0u);
    d.removeObserver(token);
    d.setInteger("a", 5);
    EXPECT_EQ(heard, (std::vector<std::string> {"voiceEnabled", "b", "voiceEnabled", "b"}));

    // A failed save keeps the value for this run, reports the error, and is saved with the next write.
    store->failSaves = true;
    EXPECT_THROW(d.setString("aiResponseMode", "thinking"), std::system_error);
    EXPECT_EQ(d.stringForKey("aiResponseMode"), "thinking");
    store->failSaves = false;
    d.setBool("other", true);
    EXPECT_EQ(store->stored().at("aiResponseMode"), PreferenceValue(std::string("thinking")));

}

TEST(Defaults, AFreshUserGetsTheCurrentProfileAndAnOlderOneIsResetOnce)
{
    auto store = std::make_shared<MemoryPreferencesStore>();
    const auto launch = [&] {
        auto defaults = std::make_unique<UserDefaults>(store);
        Defaults::registerDefaults(*defaults);
        return defaults;
    };
    auto fresh = launch();
    EXPECT_EQ(fresh->doubleForKey(Defaults::motionThreshold), 2200.0);
    EXPECT_TRUE(fresh->boolForKey(Defaults::activationEnabled));
    EXPECT_TRUE(fresh->boolForKey(Defaults::voiceEnabled));
    EXPECT_EQ(Defaults::responseMode(*fresh), AIResponseMode::fast);
    EXPECT_EQ(fresh->integerForKey(Defaults::onboardingVersion), 0) << "onboarding still to be seen";
    EXPECT_EQ(store->stored().count(Defaults::onboardingVersion), 0u);

    store = std::make_shared<MemoryPreferencesStore>(
        PreferenceDomain {{Defaults::motionThreshold, 1200.0}, {Defaults::gestureProfileVersion, std::int64_t {1}}});
    EXPECT_EQ(launch()->doubleForKey(Defaults::motionThreshold), 2200.0);
    launch()->setDouble(Defaults::motionThreshold, 1200.0);
    EXPECT_EQ(launch()->doubleForKey(Defaults::motionThreshold), 1200.0) << "a later threshold survives";
    EXPECT_EQ(Defaults::sensitivityCaption(std::nan("")), "0% · Baja") << "a damaged threshold";
}

TEST(Text, TrimsAndCountsCharactersByUnicodeRules)
{
    // NBSP, ideographic space, NEL and line separator are white space; ZWSP is not.
    EXPECT_EQ(Text::trimmed("\u00A0\u3000 \t\r\n hola mundo \u0085\u2028\n"), "hola mundo");
    EXPECT_EQ(Text::trimmed("\u200Bhola\u200B"), "\u200Bhola\u200B");
    EXPECT_EQ(Text::trimmed(" a \n b "), "a \n b");
    EXPECT_TRUE(Text::isBlank("\u2003\n"));
    // A family emoji (ZWJ sequence), a flag, and "e" + combining acute each count as one character.
    const std::string three = "\U0001F468\u200D\U0001F469\u200D\U0001F467\U0001F1EA\U0001F1F8e\u0301";
    EXPECT_EQ(Text::prefixCharacters(three + "xyz", 3), three);
    EXPECT_EQ(Text::characterCount(three), 3u);
    EXPECT_EQ(Text::prefixCharacters("abc", 10), "abc");
}

TEST(CapturedContext, TitleFallsBackFromTitleToContentToRoleAndIsCutAtSeventyTwoCharacters)
{
    const auto title = [](std::string title, std::string content, std::string role) {
        CapturedContext c;
        c.title = std::move(title);
        c.content = std::move(content);
        c.role = std::move(role);
        return c.displayTitle();
    };
    EXPECT_EQ(title("  Guardar ", "x", "botón"), "  Guardar "); // untrimmed
    EXPECT_EQ(title(" \n ", "  " + std::string(100, 'a') + " ", "r"), std::string(72, 'a'));
    EXPECT_EQ(title(" ", "\n", ""), "Captura de pantalla");
    EXPECT_EQ(title(" ", "\n", " "), " ");
    std::string thumbs; // thumbs up with skin tone, one character each
    for (int i = 0; i < 80; ++i) thumbs += "\U0001F44D\U0001F3FD";
    EXPECT_EQ(title("", thumbs, ""), thumbs.substr(0, 72 * 8));
}
