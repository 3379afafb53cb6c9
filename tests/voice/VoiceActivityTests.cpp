#include "app/voice/SpeechInputService.h"
#include "app/voice/VoiceActivityEndpointer.h"

#include "fakes/FakeAudioInput.h"

#include <gtest/gtest.h>

using namespace zorvane;
using fakes::FakeAudioInput;

TEST(VoiceActivityEndpointer, SilenceAloneNeverEndsADictation)
{
    VoiceActivityEndpointer endpointer;
    EXPECT_FALSE(endpointer.shouldFinish(0));
    EXPECT_FALSE(endpointer.shouldFinish(1e9));

    endpointer.registerVoice(10);
    endpointer.reset();
    EXPECT_FALSE(endpointer.shouldFinish(1e9));
    EXPECT_DOUBLE_EQ(endpointer.silenceTimeout, 1.15);
}

TEST(VoiceActivityEndpointer, FinishesOnceTheSilenceAfterTheLastVoiceIsLongEnough)
{
    VoiceActivityEndpointer endpointer;
    const double t = 800000000.0;
    endpointer.registerVoice(t);
    EXPECT_FALSE(endpointer.shouldFinish(t + 1.1));
    EXPECT_TRUE(endpointer.shouldFinish(t + 1.2));
    EXPECT_TRUE(endpointer.shouldFinish(t + 60));

    // Exactly the timeout already finishes.
    VoiceActivityEndpointer atZero;
    atZero.registerVoice(0);
    EXPECT_TRUE(atZero.shouldFinish(1.15));

    // Voice heard again moves the deadline.
    endpointer.registerVoice(t + 1.0);
    EXPECT_FALSE(endpointer.shouldFinish(t + 2.0));
    EXPECT_TRUE(endpointer.shouldFinish(t + 2.3));
}

TEST(VoiceTest, ABlockHoldsVoiceWhenItsLevelReachesTheThreshold)
{
    const float threshold = 0.012f;
    EXPECT_TRUE(SpeechInputService::containsVoice(FakeAudioInput::block({0.02f}), threshold));
    EXPECT_TRUE(SpeechInputService::containsVoice(FakeAudioInput::block({0.02f}, 1024, true), threshold));
    EXPECT_FALSE(SpeechInputService::containsVoice(FakeAudioInput::block({0.01f}), threshold));
    EXPECT_FALSE(SpeechInputService::containsVoice(FakeAudioInput::silence(), threshold));

    // A level exactly at the threshold is voice (0.5 squared and averaged is exact in floats).
    EXPECT_TRUE(SpeechInputService::containsVoice(FakeAudioInput::block({0.5f}, 256), 0.5f));
    EXPECT_FALSE(SpeechInputService::containsVoice(FakeAudioInput::block({0.5f}, 256), 0.5001f));
}

TEST(VoiceTest, OnlyTheFirstChannelIsListenedTo)
{
    const float threshold = 0.012f;
    EXPECT_FALSE(SpeechInputService::containsVoice(FakeAudioInput::block({0.0f, 0.5f}), threshold));
    EXPECT_TRUE(SpeechInputService::containsVoice(FakeAudioInput::block({0.05f, 0.0f}, 1024, true), threshold));
}

TEST(VoiceTest, BlocksWithoutUsableSamplesHoldNoVoice)
{
    const float threshold = 0.012f;
    EXPECT_FALSE(SpeechInputService::containsVoice(FakeAudioInput::block({0.5f}, 0), threshold));

    AudioBuffer noFloatData;
    noFloatData.frameLength = 1024;
    EXPECT_FALSE(SpeechInputService::containsVoice(noFloatData, threshold));

    // A frame count beyond the samples actually there is not read past: 8 loud samples of 1024 claimed.
    AudioBuffer overstated = FakeAudioInput::block({0.5f}, 8);
    overstated.frameLength = 1024;
    EXPECT_TRUE(SpeechInputService::containsVoice(overstated, 0.5f));
}
