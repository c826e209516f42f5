#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class DlgSystemSettings;
}

// Picks the folder recordings are written to and their file format. OK makes both the
// program's at once and stores them in "default.cfg"; Cancel changes nothing.
//
// Threads: GUI thread only; run modally by the recorder windows.
class DlgSystemSettings : public QDialog {
    Q_OBJECT

public:
    explicit DlgSystemSettings(QWidget* parent = nullptr);
    ~DlgSystemSettings() override;

    QString shownFolder() const;

public slots:
    void OnChooseFolder();
    void OnBtnOK();
    void OnBtnCancel();

private:
    std::unique_ptr<Ui::DlgSystemSettings> m_ui;
};
