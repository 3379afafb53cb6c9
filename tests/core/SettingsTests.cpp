#include "app/core/Defaults.h"
#include "app/core/UserDefaults.h"
#include "fakes/MemoryPreferencesStore.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace zorvane;
using fakes::MemoryPreferencesStore;

namespace {

struct Launch {
    std::shared_ptr<MemoryPreferencesStore> store;
    std::unique_ptr<UserDefaults> defaults;

    explicit Launch(PreferenceDomain stored = {}) : store(std::make_shared<MemoryPreferencesStore>(std::move(stored)))
    {
        relaunch();
    }
    void relaunch()
    {
        defaults = std::make_unique<UserDefaults>(store);
        Defaults::registerDefaults(*defaults);
    }
};

} // namespace

TEST(UserDefaultsReads, AbsentValuesReadAsThePlatformDoes)
{
    UserDefaults d(std::make_shared<MemoryPreferencesStore>());
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_EQ(d.doubleForKey("missing"), 0.0);
    EXPECT_FALSE(d.stringForKey("missing"));
}

TEST(UserDefaultsReads, ValuesConvertBetweenTypesLikeStoredNumbersAndStrings)
{
    UserDefaults d(std::make_shared<MemoryPreferencesStore>(PreferenceDomain {
        {"int", std::int64_t {2}}, {"real", 1500.75}, {"yes", std::string("YES")}, {"num", std::string(" 42abc")},
        {"word", std::string("hola")}, {"flag", true}}));
    EXPECT_TRUE(d.boolForKey("int"));
    EXPECT_EQ(d.doubleForKey("int"), 2.0);
    EXPECT_EQ(d.integerForKey("real"), 1500);
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_EQ(d.integerForKey("num"), 42);
    EXPECT_FALSE(d.boolForKey("word"));
    EXPECT_EQ(d.doubleForKey("word"), 0.0);
    EXPECT_EQ(d.integerForKey("flag"), 1);
    EXPECT_EQ(d.stringForKey("int"), "2");
}

TEST(UserDefaultsWrites, RegisteredValuesAreFallbacksOnlyAndWritesAreSeenAndSavedAtOnce)
{
    auto store = std::make_shared<MemoryPreferencesStore>(PreferenceDomain {{"motionThreshold", 1200.0}});
    UserDefaults d(store);
    d.registerDefaults({{"motionThreshold", 2200.0}, {"voiceEnabled", true}});
    EXPECT_EQ(d.doubleForKey("motionThreshold"), 1200.0); // a registration never replaces a stored value
    EXPECT_TRUE(d.boolForKey("voiceEnabled"));
    EXPECT_EQ(store->stored().count("voiceEnabled"), 0u); // and is never written

    d.setBool("voiceEnabled", false);
    EXPECT_FALSE(d.boolForKey("voiceEnabled"));
    EXPECT_EQ(store->stored().at("voiceEnabled"), PreferenceValue(false));

    d.removeObject("voiceEnabled");
    EXPECT_TRUE(d.boolForKey("voiceEnabled")); // back to the fallback
    EXPECT_EQ(store->stored().count("voiceEnabled"), 0u);
}

TEST(UserDefaultsWrites, ObserversHearEveryChangeAndMayWriteFromTheirCallback)
{
    UserDefaults d(std::make_shared<MemoryPreferencesStore>());
    std::vector<std::string> heard;
    const auto token = d.addObserver([&](const std::string& key) {
        heard.push_back(key);
        if (key == "a") d.setInteger("b", d.integerForKey("a") + 1); // must not deadlock
    });
    d.setInteger("a", 1);
    EXPECT_EQ(d.integerForKey("b"), 2);
    d.removeObserver(token);
    d.setInteger("a", 5);
    EXPECT_EQ(heard, (std::vector<std::string> {"a", "b"}));
}

TEST(UserDefaultsWrites, AFailedSaveKeepsTheValueForThisRunAndReportsTheError)
{
    auto store = std::make_shared<MemoryPreferencesStore>();
    UserDefaults d(store);
    store->setFailSaves(true);
    EXPECT_THROW(d.setString("aiResponseMode", "thinking"), std::system_error);
    EXPECT_EQ(d.stringForKey("aiResponseMode"), "thinking");
    store->setFailSaves(false);
    d.setBool("other", true);
    EXPECT_EQ(store->stored().at("aiResponseMode"), PreferenceValue(std::string("thinking"))); // saved with the next write
}

TEST(UserDefaultsWrites, ConcurrentWritersLoseNothing)
{
    auto store = std::make_shared<MemoryPreferencesStore>();
    UserDefaults d(store);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) d.setInteger("k" + std::to_string(t) + "-" + std::to_string(i), i);
        });
    }
    for (auto& w : writers) w.join();
    EXPECT_EQ(store->stored().size(), 200u);
}

TEST(DefaultsRegistration, AFreshUserGetsTheCurrentProfileAndStillSeesOnboarding)
{
    Launch app;
    EXPECT_EQ(app.defaults->integerForKey(Defaults::gestureProfileVersion), 2);
    EXPECT_EQ(app.defaults->doubleForKey(Defaults::motionThreshold), 2200.0);
    EXPECT_EQ(app.defaults->integerForKey(Defaults::onboardingVersion), 0);
    EXPECT_TRUE(app.defaults->boolForKey(Defaults::activationEnabled));
    EXPECT_TRUE(app.defaults->boolForKey(Defaults::voiceEnabled));
    EXPECT_EQ(Defaults::responseMode(*app.defaults), AIResponseMode::fast);
    EXPECT_EQ(app.store->stored().count(Defaults::onboardingVersion), 0u);
}

TEST(DefaultsRegistration, AnOlderProfileIsResetOnceAndLaterThresholdsSurvive)
{
    Launch app(PreferenceDomain {{Defaults::motionThreshold, 1200.0}, {Defaults::gestureProfileVersion, std::int64_t {1}}});
    EXPECT_EQ(app.defaults->doubleForKey(Defaults::motionThreshold), 2200.0);
    EXPECT_EQ(app.defaults->integerForKey(Defaults::gestureProfileVersion), 2);

    app.defaults->setDouble(Defaults::motionThreshold, 1200.0);
    app.relaunch();
    app.relaunch();
    EXPECT_EQ(app.defaults->doubleForKey(Defaults::motionThreshold), 1200.0);
}

TEST(DefaultsMode, OnlyTheExactThinkingSpellingSelectsThinking)
{
    for (const char* stored : {"Thinking", "", "slow", "fast"}) {
        Launch app(PreferenceDomain {{Defaults::aiResponseMode, std::string(stored)}});
        EXPECT_EQ(Defaults::responseMode(*app.defaults), AIResponseMode::fast) << stored;
    }
    Launch app(PreferenceDomain {{Defaults::aiResponseMode, std::string("thinking")}});
    EXPECT_EQ(Defaults::responseMode(*app.defaults), AIResponseMode::thinking);
}

TEST(DefaultsSensitivity, CaptionAndSliderAcrossTheRangeAndBeyond)
{
    EXPECT_EQ(Defaults::sensitivityCaption(2200.0), "30% · Baja");
    EXPECT_DOUBLE_EQ(Defaults::sensitivity(2200.0), 0.3);
    EXPECT_EQ(Defaults::sensitivityCaption(3000.0), "0% · Baja");
    EXPECT_EQ(Defaults::sensitivity(3000.0), 0.0);
    EXPECT_EQ(Defaults::sensitivityCaption(500.0), "100% · Alta");
    EXPECT_EQ(Defaults::sensitivity(500.0), 1.0);
    EXPECT_EQ(Defaults::sensitivityCaption(2120.0), "34% · Equilibrada");
    EXPECT_EQ(Defaults::sensitivityCaption(1440.0), "68% · Alta");
    EXPECT_EQ(Defaults::sensitivityCaption(std::nan("")), "0% · Baja");

    EXPECT_EQ(Defaults::threshold(0.0), 2800.0);
    EXPECT_EQ(Defaults::threshold(-0.5), 2800.0);
    EXPECT_EQ(Defaults::threshold(1.0), 800.0);
    EXPECT_EQ(Defaults::threshold(7.0), 800.0);
    EXPECT_DOUBLE_EQ(Defaults::threshold(0.3), 2200.0);
}
