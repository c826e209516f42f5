#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class DlgHelp;
}

// The usage notes, a fixed page.
//
// Threads: GUI thread only; run modally by the recorder windows.
class DlgHelp : public QDialog {
    Q_OBJECT

public:
    explicit DlgHelp(QWidget* parent = nullptr);
    ~DlgHelp() override;

    // The page as rich text.
    static QString helpPage();

private:
    std::unique_ptr<Ui::DlgHelp> m_ui;
};
