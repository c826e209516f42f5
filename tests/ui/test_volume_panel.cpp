// The audio input panel on the test display, with the test sound server's sine microphone and a
// tone played to the speakers: what it shows and lets the user choose. Its sound is the sound
// input's (tests/session).
#include <gtest/gtest.h>

#include <QCheckBox>

#include "base/log_file.h"
#include "pulse_fixtures.h"
#include "qt_helpers.h"
#include "session/studio.h"
#include "ui/volume_bar.h"
#include "ui/volume_panel.h"

using namespace testsupport;

namespace {

class VolumePanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
        panel = std::make_unique<VolumePanel>();
        panel->setStudio(studio);
        panel->show();
        stereo = panel->findChild<QCheckBox*>("chkStereo");
        mic = panel->findChild<QCheckBox*>("chkMic");
        stereoBar = panel->findChild<VolumeBar*>("ctlVolumeStereo");
        micBar = panel->findChild<VolumeBar*>("ctlVolumeMic");
        ASSERT_TRUE(stereo && mic && stereoBar && micBar);
    }
    Studio studio;
    std::unique_ptr<VolumePanel> panel;
    QCheckBox* stereo = nullptr;
    QCheckBox* mic = nullptr;
    VolumeBar* stereoBar = nullptr;
    VolumeBar* micBar = nullptr;
};


}  // namespace

TEST_F(VolumePanelTest, StartsWithTheMicrophoneAndBothMetersMove) {
    EXPECT_TRUE(mic->isChecked());
    EXPECT_FALSE(stereo->isChecked());
    EXPECT_TRUE(stereoBar->grey());
    EXPECT_FALSE(micBar->grey());

    TonePlayer tone("", 1000, 0.5);
    EXPECT_TRUE(processUntil([&] { return micBar->level() > 20; }, 8000));
    EXPECT_TRUE(processUntil([&] { return stereoBar->level() > 60; }, 8000))
        << "a tone of half full scale reads about 83";
    EXPECT_LE(stereoBar->level(), 100);
}

TEST_F(VolumePanelTest, LocksTheCheckBoxesWhileARecordingRunsAndGivesThemBack) {
    panel->endRecording();
    EXPECT_TRUE(stereo->isEnabled()) << "no recording ran: nothing to give back";
    // The window disables its sound section for the recording too.
    panel->setEnabled(false);
    panel->beginRecording();
    panel->setEnabled(true);
    EXPECT_FALSE(stereo->isEnabled());
    EXPECT_FALSE(mic->isEnabled());
    panel->endRecording();
    EXPECT_TRUE(stereo->isEnabled());
    EXPECT_TRUE(mic->isEnabled());
    EXPECT_TRUE(mic->isChecked()) << "the choice of inputs stays";
}
