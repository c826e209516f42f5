// The settings and help dialogs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "base/log_file.h"
#include "qt_helpers.h"
#include "session/preferences.h"
#include "test_support.h"
#include "ui/dlg_system_settings.h"

using namespace testsupport;

namespace {

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog.setEcho(false);
        previous = std::filesystem::current_path();
        ASSERT_EQ(chdir(program.path().c_str()), 0);
        writeFile("default.cfg", "# lesson recorder\nvideo.folder=/old/place/\n");
        videoFolder = "/old/place/";
        std::filesystem::create_directory(chosen.path() + "/课堂 录像");
    }
    void TearDown() override { ASSERT_EQ(chdir(previous.c_str()), 0); }

    // Answers the folder picker that OnChooseFolder opens with folder, or cancels it.
    void answerPicker(const QString& folder) {
        QTimer::singleShot(200, [folder, this] {
            auto* picker = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!picker) return;
            pickerTitle = picker->windowTitle();
            if (folder.isEmpty()) {
                picker->reject();
                return;
            }
            picker->setDirectory(folder);
            QMetaObject::invokeMethod(picker, "accept");
        });
    }

    TempDir program;
    TempDir chosen;
    std::string previous;
    QString pickerTitle;
};

}  // namespace

TEST_F(SettingsDialogTest, ChosenFolderEndsWithOneSlashAndOkStoresIt) {
    DlgSystemSettings dialog;
    dialog.show();
    auto* field = dialog.findChild<QLineEdit*>("textVideoPath");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->text(), "/old/place/");
    EXPECT_TRUE(field->isReadOnly());
    QTest::keyClicks(field, "typed");
    EXPECT_EQ(field->text(), "/old/place/") << "the field cannot be typed into";

    const QString folder = QString::fromStdString(chosen.path()) + QString::fromUtf8("/课堂 录像");
    answerPicker(folder);
    dialog.OnChooseFolder();
    EXPECT_EQ(pickerTitle, QString::fromUtf8("请选择文件夹"));
    EXPECT_EQ(field->text(), folder + "/");
    EXPECT_EQ(videoFolder, "/old/place/") << "nothing is stored before OK";

    dialog.OnBtnOK();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(videoFolder, (folder + "/").toStdString());
    EXPECT_EQ(readFile("default.cfg"),
              "# lesson recorder\nvideo.folder=" + (folder + "/").toStdString() + "\n");
}

TEST_F(SettingsDialogTest, WithoutConfigurationFileTheFolderIsKeptInANewOneForItsOwnerOnly) {
    std::filesystem::remove("default.cfg");
    DlgSystemSettings dialog;
    answerPicker(QString::fromStdString(chosen.path()));
    dialog.OnChooseFolder();
    dialog.OnBtnOK();
    EXPECT_EQ(videoFolder, chosen.path() + "/");
    EXPECT_EQ(readFile("default.cfg"), "video.folder=" + chosen.path() + "/\n");
    struct stat status;
    ASSERT_EQ(stat("default.cfg", &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
}
