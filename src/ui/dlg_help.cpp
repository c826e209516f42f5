#include "ui/dlg_help.h"

#include "ui_dlg_help.h"

namespace {

// Paragraphs without margins in the page's body font.
QString paragraph(const QString& html) {
    return QStringLiteral("<p style=\"margin:0px;\">%1</p>").arg(html);
}

QString heading(const char* text) {
    return paragraph(
        QStringLiteral("<span style=\"font-size:14pt;\">%1</span>").arg(QString::fromUtf8(text)));
}

QString text(const char* utf8) {
    return paragraph(QString::fromUtf8(utf8));
}

const QString kEmpty = QStringLiteral("<p style=\"margin:0px;\"><br/></p>");

}  // namespace

DlgHelp::DlgHelp(QWidget* parent) : QDialog(parent), m_ui(std::make_unique<Ui::DlgHelp>()) {
    m_ui->setupUi(this);
    m_ui->textBrowser->setHtml(helpPage());
}

DlgHelp::~DlgHelp() = default;

QString DlgHelp::helpPage() {
    QString page = QStringLiteral(
        "<html><body style=\"font-family:'SimSun','Noto Sans CJK SC'; font-size:9pt;\">");
    page += paragraph(
        QStringLiteral("<span style=\"font-size:16pt;\">Glimmora V1.2.1 build20140221</span>"));
    page += kEmpty + heading("一、声卡驱动安装") + kEmpty;
    page += text(
        "如果想要实现内录效果，即直接录取电脑的声音，则要求声卡的驱动被完全的安装，并且立体声混音被"
        "启用。操作方法：");
    page += text("（1）用驱动精灵等工具安装升级声卡驱动；");
    page += text(
        "（2）进入控制面板，进入声音 | 录制 "
        "面板，右键勾选“显示已禁用的设备”，可以看到“立体声混音”这一项。这表示声卡驱动已经正确安装"
        "。");
    page += text("（3）右键点立体声混音，启用，如图所示：");
    page += paragraph(QStringLiteral("<img src=\":/image/sysaudio.jpg\"/>"));
    page += kEmpty + heading("二、显卡驱动安装") + kEmpty;
    page += text("电脑的显卡驱动要正确安装，否则在用摄像头的时候可能看不到预览画面。");
    page += kEmpty + heading("三、内录与外录") + kEmpty;
    page += paragraph(
        QString::fromUtf8("内录是指直接录制声卡发出的声音数据，") +
        QStringLiteral("<span style=\"color:#ff0000;\">%1</span>")
            .arg(QString::fromUtf8("内录时请带上耳机、或者直接拔掉外接音箱")) +
        QString::fromUtf8("，以免重复录制。外录是指单纯依赖麦克风，录制自然环境中的声音。"));
    page += kEmpty + heading("四、屏幕录制/教学视频制作/在线视频转录") + kEmpty;
    page += text(
        "屏幕录制有2种方式：全屏或者指定区域，当指定区域时，将在桌面上浮一个框架，该框架内的区域是"
        "录制区域。");
    page += text(
        "在全屏录制时，注意先将电脑屏幕的分辨率调低是1366x768或以下（大分辨率录制没有意义、绽放后效"
        "果比较差）。");
    page += text(
        "如果需要有人物镜头，则可以打摄像头打开，将摄像头预览窗口置于合适位置。这样录制的视频中将有"
        "一个活动的小窗口，即作者的讲解录像。");
    page += text("此功能可用于转录在线视频，或者某此私有播放器才能播放的视频。");
    page += kEmpty + heading("五、摄像头录制") + kEmpty;
    page += text("可以选择摄像头进行录制。");
    page += text("在摄像头预览窗口点击右键，可以显示/隐藏该窗口的边框，以及设置窗口为“总在最前”。");
    page += QStringLiteral("</body></html>");
    return page;
}
