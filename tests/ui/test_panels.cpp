// The recorder window's panels and the settings dialog, in this process on its own display: what
// the user picks, what the window shows while recording, and what is kept in default.cfg.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <filesystem>

#include "base/log_file.h"
#include "capture/gst/test_cameras.h"
#include "log_capture.h"
#include "pulse_fixtures.h"
#include "qt_helpers.h"
#include "session/preferences.h"
#include "session/studio.h"
#include "test_support.h"
#include "ui/camera_panel.h"
#include "ui/camera_recorder.h"
#include "ui/dlg_system_settings.h"
#include "ui/preview_surface.h"
#include "ui/screen_panel.h"
#include "ui/screen_recorder.h"
#include "ui/video_box.h"
#include "ui/volume_bar.h"
#include "ui/volume_panel.h"

using namespace testsupport;

TEST(ScreenPanel, PickedEdgesMoveUpAndLeftOntoTheGridByLessThanFour) {
    EXPECT_EQ(ScreenPanel::alignToGrid(QRect(QPoint(5, 5), QPoint(644, 484))),
              QRect(4, 4, 641, 481));
    for (int left = 0; left < 8; ++left) {
        const QRect picked(left, 3 * left, 100 + left, 77);
        const QRect aligned = ScreenPanel::alignToGrid(picked);
        EXPECT_EQ(aligned.left() % 4, 0);
        EXPECT_EQ(aligned.right() % 4, 0);
        EXPECT_LE(picked.left() - aligned.left(), 3);
        EXPECT_GE(picked.left() - aligned.left(), 0);
        EXPECT_LE(picked.bottom() - aligned.bottom(), 3);
    }
}

namespace {

// Whether the preview shows a picture of the camera's size.
bool previewShows(CameraPanel& panel, QSize size) {
    PreviewSurface* surface = panel.videoBox()->videoWindow();
    return processUntil([&] { return surface->pictureSize() == size; }, 5000);
}

}  // namespace

// The test cameras: 640x480 and 320x240 without a list of sizes, then one offering three.
TEST(CameraPanel, SwitchingClosesTheFirstCameraAndTheChosenSizeIsKept) {
    ASSERT_TRUE(registerTestCameras());
    WorkingFolder folder("video.folder=/lessons/\n");
    cameraSize.clear();
    Studio studio;
    {
        CameraPanel panel;
        panel.setStudio(studio);
        panel.show();
        ASSERT_TRUE(previewShows(panel, QSize(640, 480)));
        LogCapture log;
        panel.findChild<QComboBox*>("cmboxCamera")->setCurrentIndex(1);
        const auto messages = log.messages();
        const auto closed = std::find(messages.begin(), messages.end(), "Camera: closed \n");
        ASSERT_NE(closed, messages.end());
        EXPECT_LT(closed, std::find(messages.begin(), messages.end(), "Camera: opening ... \n"))
            << "the first camera closes before the second opens";
        EXPECT_EQ(panel.videoBox()->size(), QSize(320, 240));
        EXPECT_TRUE(previewShows(panel, QSize(320, 240)));

        auto* sizes = panel.findChild<QComboBox*>("cmboxSize");
        EXPECT_FALSE(sizes->isEnabled()) << "this camera names no sizes";
        panel.findChild<QComboBox*>("cmboxCamera")->setCurrentIndex(2);
        ASSERT_EQ(sizes->count(), 3);
        EXPECT_EQ(sizes->currentText(), "1280x720") << "the largest at 25 pictures a second";
        EXPECT_EQ(studio.cameraFormat().width, 1280);
        sizes->setCurrentIndex(sizes->findText("640x480"));
        EXPECT_EQ(studio.cameraFormat().width, 640);
        ASSERT_TRUE(previewShows(panel, QSize(640, 480)));
        EXPECT_EQ(readFile("default.cfg"), "video.folder=/lessons/\ncamera.size=640x480\n");
        panel.shutdown();
    }
    CameraPanel next;  // the next start opens the camera at the kept size
    next.setStudio(studio);
    next.findChild<QComboBox*>("cmboxCamera")->setCurrentIndex(2);
    EXPECT_EQ(next.findChild<QComboBox*>("cmboxSize")->currentText(), "640x480");
    EXPECT_EQ(studio.cameraFormat().width, 640);
    next.shutdown();
    cameraSize.clear();
}

// The sound meters move with what the test server's microphone and speakers carry; a recording
// locks the choices and gives them back.
TEST(RecorderWindow, MetersMoveAndARecordingLocksTheChoicesPausesAndGivesThemBack) {
    gLog.setEcho(false);
    if (!testSoundServer()) GTEST_SKIP() << "needs the sound server scripts/test starts";
    TempDir dir;
    videoFolder = dir.path() + "/";
    // A tray on the window's display, so that the recorder puts its icon there.
    ChildProcess tray;
    ASSERT_TRUE(tray.start({"/usr/bin/trayer", "--edge", "top"}, dir.path()));
    ASSERT_TRUE(processUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 5000));
    Studio studio;
    ScreenRecorder window(studio);
    window.show();
    auto* icon = window.findChild<QSystemTrayIcon*>();
    ASSERT_NE(icon, nullptr);
    const QList<QAction*> menu = icon->contextMenu()->actions();  // start, pause, stop, ...
    // The icon's colour (0xRRGGBB) in its middle, and its tool tip.
    auto iconColour = [&] { return icon->icon().pixmap(32).toImage().pixel(16, 6) & 0xffffff; };
    auto tip = [&] { return icon->toolTip().toStdString(); };
    EXPECT_EQ(iconColour(), 0x808080u) << "grey while idle";
    EXPECT_EQ(tip(), "Glimmora：空闲");
    auto* start = window.findChild<QToolButton*>("btnStart");
    auto* video = window.findChild<QGroupBox*>("grpVideo");
    auto* timer = window.findChild<QLabel*>("textTimer");
    auto* stereo = window.findChild<QCheckBox*>("chkStereo");
    auto* mic = window.findChild<QCheckBox*>("chkMic");
    EXPECT_TRUE(mic->isChecked() && !stereo->isChecked());
    TonePlayer tone("", 1000, 0.5);
    EXPECT_TRUE(processUntil(
        [&] { return window.findChild<VolumeBar*>("ctlVolumeMic")->level() > 20; }, 8000));
    EXPECT_TRUE(processUntil(
        [&] { return window.findChild<VolumeBar*>("ctlVolumeStereo")->level() > 60; }, 8000))
        << "a tone of half full scale reads about 83";

    // Started, paused and stopped from the tray's menu as from the window's buttons.
    menu[0]->trigger();
    ASSERT_TRUE(window.isRecording());
    EXPECT_FALSE(start->isEnabled() || video->isEnabled() || stereo->isEnabled());
    EXPECT_TRUE(processUntil([&] { return timer->text() == "00:00:01"; }, 3000));
    EXPECT_EQ(iconColour(), 0xd02020u) << "red while recording";
    EXPECT_EQ(tip().rfind("Glimmora：录制中 00:00:0", 0), 0u) << tip();
    // Paused, the time stands still and says so; the button resumes.
    auto* pause = window.findChild<QToolButton*>("btnPause");
    ASSERT_TRUE(pause->isEnabled());
    menu[1]->trigger();
    EXPECT_EQ(pause->text(), QString::fromUtf8("继续"));
    EXPECT_EQ(iconColour(), 0xe0a010u) << "amber while paused";
    EXPECT_EQ(tip().rfind("Glimmora：已暂停 00:00:0", 0), 0u) << tip();
    const QString pausedAt = timer->text();
    EXPECT_TRUE(pausedAt.endsWith(QString::fromUtf8("已暂停"))) << pausedAt.toStdString();
    processUntil([] { return false; }, 1500);
    EXPECT_EQ(timer->text(), pausedAt);
    pause->click();
    EXPECT_EQ(pause->text(), QString::fromUtf8("暂停"));
    menu[2]->trigger();
    EXPECT_FALSE(window.isRecording());
    EXPECT_EQ(iconColour(), 0x808080u);
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_TRUE(start->isEnabled() && video->isEnabled());
    EXPECT_TRUE(stereo->isEnabled() && mic->isEnabled() && mic->isChecked());
    EXPECT_EQ(timer->text().left(7), "00:00:0") << "the last time stays on show";
    EXPECT_TRUE(std::filesystem::exists(studio.recording().fileName()));

    // The whole 1080-line screen: the advice to record smaller waits for an answer. The program
    // asked to end meanwhile starts nothing.
    QTest::mouseClick(window.findChild<QRadioButton*>("ctlFullScreen"), Qt::LeftButton);
    QString advice;
    QTimer::singleShot(200, &window, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            advice = box->text();
        QApplication::closeAllWindows();
    });
    EXPECT_EQ(window.OnStartRecord(), -1);
    EXPECT_EQ(advice, QString::fromUtf8("屏幕分辨率太大，建议调低到1024x768或以下"));
    EXPECT_FALSE(window.isRecording());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A start that cannot be made is refused with a box that says why, and writes nothing: the
// camera recorder without a camera, the screen recorder with a video folder it cannot make.
TEST(RecorderWindow, AStartThatCannotBeMadeIsToldAndWritesNothing) {
    gLog.setEcho(false);
    TempDir dir;
    writeFile(dir.file("a-file"), "not a folder");
    videoFolder = dir.file("a-file") + "/video/";
    Studio studio;
    LogCapture log;
    // The text of the box the window's start opens, answered. The window is the timer's
    // context: a start that opens no box leaves no timer behind to fire into a later test.
    QString text;
    auto refusal = [&text](RecorderWindow& window) {
        window.show();
        text.clear();
        QTimer::singleShot(200, &window, [&text] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                text = box->text();
                box->accept();
            }
        });
        EXPECT_EQ(window.OnStartRecord(), -1);
        EXPECT_FALSE(window.isRecording());
        return text.toStdString();
    };
    {
        CameraRecorder camera(studio);
        if (studio.cameraFormat().width == 0) {
            EXPECT_EQ(refusal(camera).rfind("没有可用的摄像头画面，无法开始录制。", 0), 0u);
            EXPECT_TRUE(log.contains("camera recorder: no camera picture to record"));
        }
    }
    ScreenRecorder screen(studio);
    EXPECT_EQ(refusal(screen).rfind("无法写入录像文件：\n" + videoFolder, 0), 0u);
    EXPECT_TRUE(log.contains("failed to open ts file to write"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// No sound server yet when the window opens (it starts later at login): both boxes wait
// disabled, and are the user's, with a moving meter, once a server answers.
TEST(VolumePanel, SoundThatOpensLateGivesTheBoxesBack) {
    gLog.setEcho(false);
    PrivateSoundServer server;
    ASSERT_TRUE(server.ok());
    server.kill();
    setenv("PULSE_SERVER", server.server().c_str(), 1);
    Studio studio;
    VolumePanel panel;
    panel.setStudio(studio);
    auto* stereo = panel.findChild<QCheckBox*>("chkStereo");
    auto* mic = panel.findChild<QCheckBox*>("chkMic");
    EXPECT_FALSE(mic->isEnabled() || stereo->isEnabled());
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(processUntil([&] { return mic->isEnabled() && stereo->isEnabled(); }, 5000));
    EXPECT_TRUE(mic->isChecked());
    EXPECT_TRUE(processUntil(
        [&] { return panel.findChild<VolumeBar*>("ctlVolumeMic")->level() > 20; }, 5000));
    studio.close();
    unsetenv("PULSE_SERVER");
}

namespace {

// Answers the folder picker that OnChooseFolder opens with folder.
void answerPicker(const QString& folder, QString* title) {
    QTimer::singleShot(200, [folder, title] {
        if (auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            *title = picker->windowTitle();
            picker->setDirectory(folder);
            QMetaObject::invokeMethod(picker, "accept");
        }
    });
}

}  // namespace

// The folder is picked, never typed; OK stores it and the file format, in a default.cfg made for
// its owner alone when there was none.
TEST(SettingsDialog, ThePickedFolderAndFormatAreStoredByOk) {
    gLog.setEcho(false);
    TempDir chosen;
    const QString folder = QString::fromStdString(chosen.path()) + QString::fromUtf8("/课堂 录像");
    std::filesystem::create_directory(folder.toStdString());
    for (const std::string config : {"# lesson recorder\nvideo.folder=/old/place/\n", ""}) {
        WorkingFolder program(config);
        videoFolder = "/old/place/";
        videoFormat = "avi";
        DlgSystemSettings dialog;
        dialog.show();
        auto* field = dialog.findChild<QLineEdit*>("textVideoPath");
        EXPECT_EQ(field->text(), "/old/place/");
        QTest::keyClicks(field, "typed");
        EXPECT_EQ(field->text(), "/old/place/") << "the field cannot be typed into";
        QString title;
        answerPicker(folder, &title);
        dialog.OnChooseFolder();
        EXPECT_EQ(title, QString::fromUtf8("请选择文件夹"));
        EXPECT_EQ(field->text(), folder + "/");
        auto* format = dialog.findChild<QComboBox*>("cmboxFormat");
        EXPECT_EQ(format->currentText(), "AVI (MPEG-4 + MP3)");
        format->setCurrentIndex(format->findText("MP4 (H.264 + AAC)"));
        EXPECT_EQ(videoFolder, "/old/place/") << "nothing is stored before OK";
        dialog.OnBtnOK();
        EXPECT_EQ(videoFolder, (folder + "/").toStdString());
        EXPECT_EQ(videoFormat, "mp4");
        const std::string kept = "video.folder=" + videoFolder + "\nvideo.format=mp4\n";
        EXPECT_EQ(readFile("default.cfg"), config.empty() ? kept : "# lesson recorder\n" + kept);
        struct stat status;
        ASSERT_EQ(stat("default.cfg", &status), 0);
        if (config.empty()) {
            EXPECT_EQ(status.st_mode & 0777, 0600u) << "its owner's alone";
        }
    }
    videoFormat = "avi";
}
