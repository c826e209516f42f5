// Draws the program's pictures (icons, mode buttons, the help illustration) into a folder, at
// build time. Everything is vector drawing with QPainter, so each icon is sharp at its size.
//
//   glimmora_draw_images <output folder>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>
#include <functional>
#include <initializer_list>

namespace {

// The icons' palette.
const QColor kInk(55, 71, 79);       // outlines and dark parts
const QColor kAccent(47, 128, 237);  // blue
const QColor kRecord(229, 57, 53);   // red
const QColor kGo(67, 160, 71);       // green
const QColor kFolder(249, 190, 60);  // yellow
const QColor kFolderDark(224, 160, 40);
const QColor kPaper(250, 250, 250);

using Drawing = std::function<void(QPainter&)>;

// Renders drawing on a 100 x 100 canvas scaled to size x size pixels.
QImage render(int size, const Drawing& drawing) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 100.0, size / 100.0);
    drawing(painter);
    return image;
}

// A closed outline through the given corners.
QPainterPath polygon(std::initializer_list<QPointF> corners) {
    QPainterPath path;
    path.addPolygon(QPolygonF(corners));
    path.closeSubpath();
    return path;
}

QPen inkPen(double width = 6) {
    return QPen(kInk, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void record(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(229, 57, 53, 60));
    p.drawEllipse(QPointF(50, 50), 46, 46);
    QRadialGradient dot(QPointF(40, 38), 44);
    dot.setColorAt(0, QColor(255, 110, 100));
    dot.setColorAt(1, kRecord);
    p.setBrush(dot);
    p.drawEllipse(QPointF(50, 50), 34, 34);
}

void stop(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(55, 71, 79, 50));
    p.drawRoundedRect(QRectF(4, 4, 92, 92), 20, 20);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(22, 22, 56, 56), 10, 10);
}

void play(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGo);
    p.drawEllipse(QPointF(50, 50), 46, 46);
    const QPainterPath triangle = polygon({{40, 28}, {74, 50}, {40, 72}});
    p.setBrush(Qt::white);
    p.drawPath(triangle);
}

void clockFace(QPainter& p, QPointF centre, double radius) {
    p.setPen(inkPen(6));
    p.setBrush(kPaper);
    p.drawEllipse(centre, radius, radius);
    for (int hour = 0; hour < 12; hour += 3) {
        const double angle = hour * M_PI / 6;
        p.drawPoint(QPointF(centre.x() + std::sin(angle) * radius * 0.75,
                            centre.y() - std::cos(angle) * radius * 0.75));
    }
}

void clockIcon(QPainter& p) {
    clockFace(p, QPointF(50, 50), 42);
    p.setPen(inkPen(7));
    p.drawLine(QPointF(50, 50), QPointF(50, 24));
    p.setPen(QPen(kAccent, 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(50, 50), QPointF(70, 60));
}

void timer(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(40, 2, 20, 10), 3, 3);
    p.drawRect(QRectF(46, 10, 8, 8));
    clockFace(p, QPointF(50, 58), 38);
    p.setPen(QPen(kRecord, 7, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(50, 58), QPointF(66, 40));
}

void pencil(QPainter& p, QColor body) {
    p.save();
    p.translate(50, 50);
    p.rotate(45);
    p.setPen(inkPen(4));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(-10, -44, 20, 60), 3, 3);
    const QPainterPath tip = polygon({{-10, 16}, {10, 16}, {0, 40}});
    p.setBrush(QColor(255, 224, 178));
    p.drawPath(tip);
    p.restore();
}

void gear(QPainter& p, QPointF centre, double radius, QColor colour) {
    QPainterPath teeth;
    const int count = 8;
    for (int i = 0; i < count; ++i) {
        const double angle = i * 2 * M_PI / count;
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-radius * 0.2, -radius, radius * 0.4, radius * 0.5), 3, 3);
        QTransform turn;
        turn.translate(centre.x(), centre.y());
        turn.rotateRadians(angle);
        teeth.addPath(turn.map(tooth));
    }
    QPainterPath body;
    body.addEllipse(centre, radius * 0.72, radius * 0.72);
    QPainterPath hole;
    hole.addEllipse(centre, radius * 0.3, radius * 0.3);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(teeth.united(body).subtracted(hole));
}

void settings(QPainter& p) {
    gear(p, QPointF(50, 50), 46, kInk);
}

void editSettings(QPainter& p) {
    gear(p, QPointF(40, 40), 36, kInk);
    pencil(p, kAccent);
}

void editDone(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kGo);
    p.drawEllipse(QPointF(50, 50), 46, 46);
    p.setPen(QPen(Qt::white, 11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(28, 52), QPointF(44, 68), QPointF(73, 34)}));
}

void more(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    for (int x : {18, 50, 82})
        p.drawEllipse(QPointF(x, 50), 10, 10);
}

void menu(QPainter& p) {
    p.setPen(QPen(kInk, 11, Qt::SolidLine, Qt::RoundCap));
    for (int y : {24, 50, 76})
        p.drawLine(QPointF(16, y), QPointF(84, y));
}

void speaker(QPainter& p) {
    const QPainterPath body = polygon({{8, 36}, {26, 36}, {50, 14}, {50, 86}, {26, 64}, {8, 64}});
    p.setPen(inkPen(5));
    p.setBrush(kInk);
    p.drawPath(body);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kAccent, 7, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(40, 30, 30, 40), -50 * 16, 100 * 16);
    p.drawArc(QRectF(36, 16, 52, 68), -50 * 16, 100 * 16);
}

void microphone(QPainter& p) {
    p.setPen(Qt::NoPen);
    QLinearGradient capsule(QPointF(34, 0), QPointF(66, 0));
    capsule.setColorAt(0, kInk);
    capsule.setColorAt(0.5, QColor(96, 125, 139));
    capsule.setColorAt(1, kInk);
    p.setBrush(capsule);
    p.drawRoundedRect(QRectF(34, 4, 32, 54), 16, 16);
    p.setBrush(Qt::NoBrush);
    p.setPen(inkPen(7));
    p.drawArc(QRectF(20, 22, 60, 52), 180 * 16, 180 * 16);
    p.drawLine(QPointF(50, 74), QPointF(50, 90));
    p.drawLine(QPointF(32, 92), QPointF(68, 92));
}

void folder(QPainter& p, bool open) {
    const QPainterPath back = polygon({{6, 22}, {38, 22}, {46, 30}, {94, 30}, {94, 84}, {6, 84}});
    p.setPen(QPen(kFolderDark, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kFolderDark);
    p.drawPath(back);
    p.setBrush(kPaper);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(14, 34, 72, 30));
    const QPainterPath front = open ? polygon({{18, 44}, {98, 44}, {86, 84}, {6, 84}})
                                    : polygon({{6, 40}, {94, 40}, {94, 84}, {6, 84}});
    p.setPen(QPen(kFolderDark, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(kFolder);
    p.drawPath(front);
}

// A pointing hand: the index finger up, the other fingers folded, the thumb at the side.
void hand(QPainter& p) {
    QPainterPath shape;
    shape.addRoundedRect(QRectF(30, 4, 16, 56), 8, 8);   // index finger
    shape.addRoundedRect(QRectF(44, 36, 15, 24), 7, 7);  // folded fingers
    shape.addRoundedRect(QRectF(57, 40, 15, 22), 7, 7);
    shape.addRoundedRect(QRectF(70, 44, 14, 22), 7, 7);
    shape.addRoundedRect(QRectF(30, 48, 54, 44), 14, 14);  // palm
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-8, -24, 16, 34), 8, 8);
    QTransform place;
    place.translate(28, 66);
    place.rotate(-40);
    shape.addPath(place.map(thumb));
    p.setPen(inkPen(7));
    p.setBrush(QColor(255, 213, 160));
    p.drawPath(shape.simplified());
}

void webcam(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(30, 78, 40, 12), 6, 6);
    p.drawRect(QRectF(45, 66, 10, 14));
    QRadialGradient head(QPointF(42, 30), 50);
    head.setColorAt(0, QColor(120, 144, 156));
    head.setColorAt(1, kInk);
    p.setBrush(head);
    p.drawEllipse(QPointF(50, 38), 36, 34);
    p.setBrush(QColor(20, 28, 36));
    p.drawEllipse(QPointF(50, 38), 18, 18);
    QRadialGradient lens(QPointF(45, 33), 16);
    lens.setColorAt(0, QColor(144, 202, 249));
    lens.setColorAt(1, kAccent.darker(160));
    p.setBrush(lens);
    p.drawEllipse(QPointF(50, 38), 12, 12);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(45, 33), 3.5, 3.5);
    p.setBrush(kRecord);
    p.drawEllipse(QPointF(72, 16), 4, 4);
}

void monitor(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRoundedRect(QRectF(4, 10, 92, 64), 6, 6);
    QLinearGradient screen(QPointF(0, 14), QPointF(0, 68));
    screen.setColorAt(0, QColor(100, 170, 250));
    screen.setColorAt(1, kAccent.darker(130));
    p.setBrush(screen);
    p.drawRect(QRectF(10, 16, 80, 52));
    // A small window on the desktop, with the record dot in its corner.
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRoundedRect(QRectF(22, 26, 40, 28), 3, 3);
    p.setBrush(kRecord);
    p.drawEllipse(QPointF(78, 26), 5, 5);
    p.setBrush(kInk);
    p.drawRect(QRectF(42, 74, 16, 10));
    p.drawRoundedRect(QRectF(26, 84, 48, 8), 4, 4);
}

// The help page's picture: the sound settings' recording tab, with the stereo mix being enabled
// from its context menu, drawn as the help text describes it.
QImage soundSettingsPicture() {
    QImage image(440, 300, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font("Noto Sans CJK SC");
    font.setPixelSize(13);
    p.setFont(font);

    p.fillRect(QRect(0, 0, 440, 28), QColor(255, 255, 255));
    p.setPen(kInk);
    p.drawText(QRect(12, 0, 200, 28), Qt::AlignVCenter, QString::fromUtf8("声音"));
    const char* tabs[] = {"播放", "录制", "声音", "通信"};
    for (int i = 0; i < 4; ++i) {
        const QRect tab(12 + i * 56, 36, 54, 24);
        p.setPen(QColor(180, 180, 180));
        p.setBrush(i == 1 ? QColor(255, 255, 255) : QColor(232, 232, 232));
        p.drawRect(tab);
        p.setPen(kInk);
        p.drawText(tab, Qt::AlignCenter, QString::fromUtf8(tabs[i]));
    }
    const QRect list(12, 60, 416, 196);
    p.setPen(QColor(180, 180, 180));
    p.setBrush(Qt::white);
    p.drawRect(list);

    struct Row {
        const char* name;
        const char* state;
        Drawing icon;
        bool enabled;
    };
    const Row rows[] = {{"麦克风", "默认设备", microphone, true},
                        {"立体声混音", "已停用", speaker, false}};
    for (int i = 0; i < 2; ++i) {
        const int top = 70 + i * 64;
        if (i == 1) p.fillRect(QRect(14, top - 4, 412, 58), QColor(204, 228, 247));
        p.drawImage(QPoint(24, top + 4), render(40, rows[i].icon));
        p.setPen(rows[i].enabled ? kInk : QColor(140, 140, 140));
        p.drawText(QPoint(76, top + 18), QString::fromUtf8(rows[i].name));
        p.drawText(QPoint(76, top + 36), QString::fromUtf8("Realtek High Definition Audio"));
        p.drawText(QPoint(76, top + 52), QString::fromUtf8(rows[i].state));
    }

    // The context menu of the stereo mix entry, "启用" under the mouse.
    const QRect popup(236, 150, 176, 88);
    p.setPen(QColor(160, 160, 160));
    p.setBrush(Qt::white);
    p.drawRect(popup);
    const char* items[] = {"启用", "显示已禁用的设备", "显示已断开的设备"};
    for (int i = 0; i < 3; ++i) {
        const QRect item(popup.left() + 2, popup.top() + 4 + i * 27, popup.width() - 4, 25);
        if (i == 0) p.fillRect(item, QColor(204, 228, 247));
        p.setPen(kInk);
        p.drawText(item.adjusted(28, 0, 0, 0), Qt::AlignVCenter, QString::fromUtf8(items[i]));
        if (i > 0) {
            p.setPen(QPen(kInk, 2));
            p.drawPolyline(QPolygonF({QPointF(item.left() + 9, item.center().y()),
                                      QPointF(item.left() + 13, item.center().y() + 4),
                                      QPointF(item.left() + 20, item.center().y() - 4)}));
        }
    }
    // The mouse pointer on "启用".
    const QPainterPath arrow = polygon(
        {{300, 162}, {300, 184}, {305, 179}, {309, 188}, {312, 187}, {308, 178}, {315, 178}});
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPath(arrow);

    p.setPen(QColor(120, 120, 120));
    p.setBrush(QColor(232, 232, 232));
    for (int i = 0; i < 2; ++i) {
        const QRect button(268 + i * 84, 266, 76, 24);
        p.drawRect(button);
        p.drawText(button, Qt::AlignCenter, QString::fromUtf8(i ? "取消" : "确定"));
    }
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (image.save(path)) return true;
    fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        fprintf(stderr, "usage: glimmora_draw_images <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath("icon") || !out.mkpath("32x32")) {
        fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    struct Icon {
        const char* name;
        int size;
        Drawing drawing;
    };
    const Icon icons[] = {
        {"screen.png", 64, monitor},
        {"camera.png", 64, webcam},
        {"icon/play.png", 32, play},
        {"icon/timer.png", 32, timer},
        {"icon/clock.png", 32, clockIcon},
        {"icon/editsettings.png", 32, editSettings},
        {"icon/record.png", 32, record},
        {"icon/more.png", 32, more},
        {"icon/stereo_24.png", 24, speaker},
        {"icon/stereo.png", 32, speaker},
        {"icon/openfolder.png", 32, [](QPainter& p) { folder(p, true); }},
        {"icon/folder.png", 32, [](QPainter& p) { folder(p, false); }},
        {"icon/hand.png", 20, hand},
        {"icon/editdone.png", 32, editDone},
        {"icon/stop.png", 32, stop},
        {"icon/settings.png", 32, settings},
        {"icon/menu.png", 32, menu},
        {"icon/camera.png", 32, webcam},
        {"icon/microphone.png", 32, microphone},
        {"icon/microphone_24.png", 24, microphone},
        {"32x32/record.png", 32, record},
        {"32x32/stop.png", 32, stop},
    };
    bool ok = true;
    for (const Icon& icon : icons)
        ok = save(render(icon.size, icon.drawing), out.filePath(icon.name)) && ok;
    ok = save(soundSettingsPicture(), out.filePath("sysaudio.jpg")) && ok;
    return ok ? 0 : 1;
}
