// The main job on a CSV roster as Excel writes it on a Chinese system
// (GBK, CRLF, a trailing empty column): 打开表 → 文本文件(CSV) → the file →
// its one table → key 学号 → 打开(&O), names from 姓名, write-back into
// 照片, three photos; Python's csv module then reads the three names and
// every other field unchanged, and the file grew by the three names' bytes
// alone.
#include "WindowHarness.h"

#include "app/Form1.h"
#include "data/TableGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QPushButton>
#include <QStringEncoder>
#include <QtTest>

namespace {

// Every row of a GBK CSV as Python's csv module reads it.
QList<QStringList> pythonRows(const QString &path)
{
    QProcess python;
    python.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import csv, json, sys\n"
                        "print(json.dumps(list(csv.reader(open(sys.argv[1], encoding='gbk', newline='')))))"),
         path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        python.kill();
        python.waitForFinished();
        return {};
    }
    QList<QStringList> rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        rows.append(QStringList());
        for (const QJsonValue &field : row.toArray())
            rows.last() << field.toString();
    }
    return rows;
}

} // namespace

class TstCsvRoster : public QObject
{
    Q_OBJECT
private slots:
    void threePhotosWriteTheirNamesBack();
};

void TstCsvRoster::threePhotosWriteTheirNamesBack()
{
    clearStore();
    WindowHarness d;
    d.build();
    const QString path = d.folder.filePath(QStringLiteral("高一 名单.csv"));
    QVERIFY(QFile::copy(
        qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/csv/roster_zh_30_excel_gbk.csv"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QList<QStringList> before = pythonRows(path);
    QCOMPARE(before.size(), 32); // the header, 30 people, a row of delimiters
    const qint64 size = QFileInfo(path).size();

    QVERIFY(d.openTable(path, {0}, 4)); // 文本文件(CSV), key 学号
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->cellText(0, 1), QStringLiteral("学号"));
    d.w<QComboBox>("Comfname1")->setCurrentIndex(1); // names from 姓名
    d.w<QCheckBox>("Chezd")->setChecked(true);
    d.w<QComboBox>("Comzd")->setCurrentIndex(5); // into 照片
    QCOMPARE(d.w<QComboBox>("Comzd")->currentText(), QStringLiteral("照片"));

    d.w<QPushButton>("Command1")->click();
    QStringList names;
    for (int photo = 0; photo < 3; ++photo) {
        names << grid->roster()->cellText(grid->cursor()->currentRow(), 2);
        QVERIFY(!names.last().isEmpty());
        d.w<QPushButton>("Command3")->click();
        d.w<QPushButton>("Command8")->click();
        d.w<QPushButton>("Command4")->click();
    }
    QVERIFY2(d.messages.texts().isEmpty(), qPrintable(d.messages.texts().join(QLatin1Char('\n'))));

    QList<QStringList> expected = before;
    qint64 grown = 0;
    for (int r = 1; r <= 3; ++r) {
        const QString stored = grid->roster()->cellText(r, 6);
        QVERIFY2(stored.startsWith(names[r - 1]), qPrintable(stored));
        expected[r][5] = stored;
        grown += QByteArray(QStringEncoder("GBK").encode(stored)).size();
    }
    QCOMPARE(pythonRows(path), expected);
    QCOMPARE(QFileInfo(path).size(), size + grown);
}

QTEST_MAIN(TstCsvRoster)
#include "tst_csvroster.moc"
