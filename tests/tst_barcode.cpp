// The camera's code reader on codes made by other programs (zint, qrencode)
// and put into a webcam-sized picture turned and scaled as a card held up
// to a camera would be; when a code counts as newly in view; and the worker
// thread that decodes without making its caller wait.

#include "capture/BarcodeScanner.h"

#include <QPainter>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Runs an encoder; the picture it wrote, or a null one.
QImage encoded(const QString &tool, const QStringList &args, const QString &out)
{
    QProcess p;
    p.start(tool, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished();
        qWarning("%s failed: %s", qPrintable(tool), p.readAllStandardError().constData());
        return {};
    }
    return QImage(out);
}

// A 640 x 480 grey scene with `code` drawn at its centre, turned by `angle`
// degrees and scaled by `scale`, smoothly (as a camera blurs its edges).
QImage scene(const QImage &code, double angle, double scale)
{
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(QColor(128, 120, 110));
    QPainter p(&frame);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(320, 240);
    p.rotate(angle);
    p.scale(scale, scale);
    p.drawImage(QPointF(-code.width() / 2.0, -code.height() / 2.0), code);
    return frame;
}

} // namespace

class TstBarcode : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readsCodesMadeElsewhere_data();
    void readsCodesMadeElsewhere();
    void nothingInAnEmptyPicture();
    void appearanceOncePerShowing();
    void workerDecodesWithoutQueueing();

private:
    QTemporaryDir m_dir;
};

void TstBarcode::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char *tool : {"zint", "qrencode"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is missing (scripts/deps.sh installs it)").arg(tool)));
}

void TstBarcode::readsCodesMadeElsewhere_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args"); // %1: the output file
    QTest::addColumn<double>("angle");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("format");

    const QStringList qr{QStringLiteral("-s"), QStringLiteral("4"), QStringLiteral("-o"),
                         QStringLiteral("%1"), QStringLiteral("2024000005")};
    QTest::newRow("QR, qrencode, upright") << "qrencode" << qr << 0.0 << 1.0 << "2024000005"
                                           << "QRCode";
    QTest::newRow("QR, qrencode, turned 30° and shrunk") << "qrencode" << qr << 30.0 << 0.8 << "2024000005"
                                                         << "QRCode";
    // A key in Chinese, as qrencode writes it: UTF-8 bytes without a
    // character-set mark.
    QTest::newRow("QR, qrencode, Chinese")
        << "qrencode"
        << QStringList{QStringLiteral("-s"), QStringLiteral("4"), QStringLiteral("-o"), QStringLiteral("%1"),
                       QStringLiteral("高二(14)班-宁凝")}
        << 0.0 << 1.0 << "高二(14)班-宁凝"
        << "QRCode";
    QTest::newRow("QR, qrencode, upside down and enlarged")
        << "qrencode" << qr << 180.0 << 1.7 << "2024000005"
        << "QRCode";
    auto zint = [](int type, const QString &data) {
        return QStringList{
            QStringLiteral("-b"),       QString::number(type),          QStringLiteral("--scale=2"),
            QStringLiteral("--notext"), QStringLiteral("--quietzones"), QStringLiteral("-o"),
            QStringLiteral("%1"),       QStringLiteral("-d"),           data};
    };
    // ZXing reads bar codes along rows (and, turned, along columns): tilted
    // by more than about 10° they are not read; QR and Data Matrix codes are
    // read at any angle.
    QTest::newRow("Code 128, zint, turned 90°")
        << "zint" << zint(20, QStringLiteral("S2024-0005ab")) << 90.0 << 0.6 << "S2024-0005ab"
        << "Code128";
    QTest::newRow("Code 39, zint, turned 8°")
        << "zint" << zint(8, QStringLiteral("2024000005")) << 8.0 << 0.8 << "2024000005"
        << "Code39";
    // zint adds the check digit.
    QTest::newRow("EAN-13, zint, upside down")
        << "zint" << zint(13, QStringLiteral("692771981161")) << 180.0 << 1.3 << "6927719811618"
        << "EAN-13";
    QTest::newRow("Data Matrix, zint, turned 45°")
        << "zint" << zint(71, QStringLiteral("2024000005")) << 45.0 << 1.5 << "2024000005"
        << "DataMatrix";
}

void TstBarcode::readsCodesMadeElsewhere()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(double, angle);
    QFETCH(double, scale);
    QFETCH(QString, text);
    QFETCH(QString, format);
    const QString out =
        m_dir.filePath(QStringLiteral("%1.png").arg(qHash(QLatin1String(QTest::currentDataTag()))));
    for (QString &a : args)
        a.replace(QStringLiteral("%1"), out);
    const QImage code = encoded(tool, args, out);
    QVERIFY(!code.isNull());
    const QList<DecodedCode> found = BarcodeDecoder().decode(scene(code, angle, scale));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().text, text);
    QCOMPARE(found.first().format, format);
}

void TstBarcode::nothingInAnEmptyPicture()
{
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(Qt::gray);
    QVERIFY(BarcodeDecoder().decode(frame).isEmpty());
    QVERIFY(BarcodeDecoder().decode(QImage()).isEmpty());
}

// A code is new when it comes into view, not again while it stays there
// (a picture that misses it now and then included), and new once more
// after it was out of view for three pictures.
void TstBarcode::appearanceOncePerShowing()
{
    CodeAppearance a(3);
    const QStringList none;
    const QStringList one{QStringLiteral("A")};
    const QStringList two{QStringLiteral("A"), QStringLiteral("B")};
    QCOMPARE(a.update(one), one);
    QCOMPARE(a.update(one), none);
    QCOMPARE(a.update(two), QStringList{QStringLiteral("B")});
    QCOMPARE(a.update(none), none); // missed once, twice: still in view
    QCOMPARE(a.update(none), none);
    QCOMPARE(a.update(two), none);
    QCOMPARE(a.update(none), none);
    QCOMPARE(a.update(none), none);
    QCOMPARE(a.update(none), none); // third miss: gone
    QCOMPARE(a.update(one), one);
}

void TstBarcode::workerDecodesWithoutQueueing()
{
    const QString out = m_dir.filePath(QStringLiteral("worker.png"));
    const QImage code = encoded(
        QStringLiteral("qrencode"),
        {QStringLiteral("-s"), QStringLiteral("4"), QStringLiteral("-o"), out, QStringLiteral("2024000007")},
        out);
    QVERIFY(!code.isNull());
    const QImage frame = scene(code, 10, 1.0);
    CameraScanner scanner;
    QSignalSpy decoded(&scanner, &CameraScanner::decoded);
    QSignalSpy appeared(&scanner, &CameraScanner::appeared);
    QVERIFY(scanner.offer(frame));
    // The worker has the first picture: the second is dropped, not queued.
    QVERIFY(!scanner.offer(frame));
    QVERIFY(decoded.wait(5000));
    QCOMPARE(appeared.size(), 1);
    QCOMPARE(appeared.first().first().toString(), QStringLiteral("2024000007"));
    // Still in view: decoded again, not new again.
    QVERIFY(scanner.offer(frame));
    QVERIFY(decoded.wait(5000));
    QCOMPARE(decoded.size(), 2);
    QCOMPARE(appeared.size(), 1);
}

QTEST_MAIN(TstBarcode)
#include "tst_barcode.moc"
