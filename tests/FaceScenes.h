#pragma once
// Scenes made from a real face for the framing tests and benchmarks: the
// astronaut picture of scikit-image (tests/data/faces), cut out along an
// ellipse around her head and shoulders and pasted at a chosen place and
// scale on a plain or a busy background. Where her head lies in the
// picture was read off it by eye: crown at y 16, chin at y 185, the middle
// of the face at x 226; the paste carries it into the scene.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

#include <cmath>

namespace FaceScenes {

struct HeadTruth
{
    double crown, chin, centreX;
};

inline constexpr HeadTruth AstronautHead{16, 185, 226};

inline QImage astronaut()
{
    static const QImage picture =
        QImage(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/faces/astronaut.png"))
            .convertToFormat(QImage::Format_RGB32);
    return picture;
}

enum class Background {
    Plain,
    Busy
};

// A background of `size`: an even grey-blue wall with a soft light fall
// (plain), or shelves of coloured boxes and writing (busy).
inline QImage background(QSize size, Background kind, quint32 seed = 7)
{
    QImage scene(size, QImage::Format_RGB32);
    QPainter p(&scene);
    QLinearGradient wall(0, 0, size.width(), size.height());
    wall.setColorAt(0, QColor(168, 180, 196));
    wall.setColorAt(1, QColor(150, 162, 180));
    p.fillRect(scene.rect(), wall);
    if (kind == Background::Busy) {
        QRandomGenerator rng(seed);
        for (int i = 0; i < 260; ++i) {
            const int w = 8 + int(rng.bounded(60)), h = 8 + int(rng.bounded(60));
            p.fillRect(int(rng.bounded(size.width())), int(rng.bounded(size.height())), w, h,
                       QColor::fromHsv(int(rng.bounded(360)), 80 + int(rng.bounded(170)),
                                       60 + int(rng.bounded(190))));
        }
        p.setPen(Qt::black);
        for (int y = 10; y < size.height(); y += 23)
            p.drawText(int(rng.bounded(40)), y, QStringLiteral("书架 SHELF 2024 · 班级合影 ABCDEFG"));
    }
    return scene;
}

struct Scene
{
    QImage picture;
    HeadTruth head; // in the scene's pixels
};

// The astronaut scaled by `scale`, her face's middle at `centreX` and her
// crown at `crownY`, over `back`.
inline Scene paste(QImage back, double scale, double centreX, double crownY)
{
    const QImage face = astronaut();
    const double dx = centreX - AstronautHead.centreX * scale;
    const double dy = crownY - AstronautHead.crown * scale;
    QPainter p(&back);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(dx, dy);
    p.scale(scale, scale);
    // Head, hair and shoulders, none of the studio behind her.
    QPainterPath cut;
    cut.addEllipse(QPointF(226, 330), 190, 330);
    QPainterPath head;
    head.addEllipse(QPointF(227, 105), 82, 96);
    p.setClipPath(head.united(cut.intersected(QPainterPath([] {
        QPainterPath below;
        below.addRect(0, 175, 512, 337);
        return below;
    }()))));
    p.drawImage(0, 0, face);
    p.end();
    return {back, {crownY, crownY + (AstronautHead.chin - AstronautHead.crown) * scale, centreX}};
}

} // namespace FaceScenes
