#include "ui/dlg_system_settings.h"

#include <QFileDialog>

#include <string>

#include "session/preferences.h"
#include "ui/utf8_text.h"
#include "ui_dlg_system_settings.h"

DlgSystemSettings::DlgSystemSettings(QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::DlgSystemSettings>()) {
    m_ui->setupUi(this);
    connect(m_ui->btnOK, &QPushButton::clicked, this, &DlgSystemSettings::OnBtnOK);
    connect(m_ui->btnCancel, &QPushButton::clicked, this, &DlgSystemSettings::OnBtnCancel);
    connect(m_ui->btnChooseFolder, &QToolButton::clicked, this, &DlgSystemSettings::OnChooseFolder);
    m_ui->textVideoPath->setText(utf8ToQString(videoFolder));
    m_ui->cmboxFormat->setCurrentIndex(videoFormat == "mp4" ? 1 : 0);
}

DlgSystemSettings::~DlgSystemSettings() = default;

QString DlgSystemSettings::shownFolder() const {
    return m_ui->textVideoPath->text();
}

void DlgSystemSettings::OnChooseFolder() {
    QString folder = QFileDialog::getExistingDirectory(
        window(), utf8ToQString(std::string("请选择文件夹")), m_ui->textVideoPath->text());
    if (folder.isEmpty()) return;
    if (!folder.endsWith('/')) folder += '/';
    m_ui->textVideoPath->setText(folder);
}

void DlgSystemSettings::OnBtnOK() {
    const std::string folder = normalizedFolder(m_ui->textVideoPath->text().toStdString());
    if (!folder.empty()) videoFolder = folder;
    storePreference("video.folder", videoFolder);
    const std::string format = m_ui->cmboxFormat->currentIndex() == 1 ? "mp4" : "avi";
    if (format != videoFormat) {
        videoFormat = format;
        storePreference("video.format", videoFormat);
    }
    accept();
}

void DlgSystemSettings::OnBtnCancel() {
    reject();
}
