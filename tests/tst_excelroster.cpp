// The main job on an Excel roster, as a new user does it: 打开表 → Excel数据
// → a roster written by LibreOffice (.xls or .xlsx) → its sheet → key 学号 →
// 打开(&O), names from 姓名, write-back into 照片, three photos; GDAL then
// reads the three names in the workbook and every other cell unchanged.
#include "WindowHarness.h"
#include "XlsOracles.h"

#include "app/Form1.h"
#include "data/TableGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

using namespace xlsoracles;

class TstExcelRoster : public QObject
{
    Q_OBJECT
private slots:
    void threePhotosWriteTheirNamesBack_data();
    void threePhotosWriteTheirNamesBack();
};

void TstExcelRoster::threePhotosWriteTheirNamesBack_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow(".xls") << "roster_zh_30.xls";
    QTest::newRow(".xlsx") << "roster_zh_30.xlsx";
}

void TstExcelRoster::threePhotosWriteTheirNamesBack()
{
    if (!have("ogr2ogr"))
        QSKIP("ogr2ogr (gdal-bin) is needed");
    clearStore();
    // The photos of the row before lie in the isolated home's pictures
    // folder: this row starts without them.
    const QString home = qEnvironmentVariable("LUMORA_ISOLATED_HOME");
    QVERIFY(!home.isEmpty());
    QDir(home + QStringLiteral("/Pictures")).removeRecursively();
    WindowHarness d;
    d.build();
    QFETCH(QString, file);
    const QString path = d.folder.filePath(QStringLiteral("roster.") + QFileInfo(file).suffix());
    QVERIFY(
        QFile::copy(qEnvironmentVariable("LUMORA_TEST_DATA") + QStringLiteral("/generated/") + file, path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const QMap<QString, Csv> before = gdalLayers(path);
    QCOMPARE(before.size(), 1);

    QVERIFY(d.openTable(path, {0}, 0)); // Excel数据, key 学号
    TableGrid *grid = d.form->grid();
    QCOMPARE(grid->roster()->cellText(0, 1), QStringLiteral("学号"));
    QCOMPARE(grid->roster()->rows(), 32);
    // The first load sets the target picker to 学号, the key: it is let go
    // without a word, since the operator has not touched the picker.
    QVERIFY(d.messages.texts().isEmpty());
    QCOMPARE(d.w<QComboBox>("Comzd")->currentIndex(), -1);
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
    QCOMPARE(grid->cursor()->currentRow(), 4);
    QVERIFY2(d.messages.texts().isEmpty(), qPrintable(d.messages.texts().join(QLatin1Char('\n'))));

    // GDAL: the three names in 照片 of the first three records, nothing else changed.
    const Csv was = before.first(), now = gdalLayers(path).first();
    QCOMPARE(now.size(), was.size());
    for (qsizetype r = 0; r < was.size(); ++r)
        for (qsizetype c = 0; c < was[r].size(); ++c) {
            if (r >= 1 && r <= 3 && c == 5)
                QVERIFY2(now[r][c].startsWith(names[r - 1]), qPrintable(now[r][c]));
            else
                QCOMPARE(now[r][c], was[r][c]);
        }
    QCOMPARE(QFile::permissions(path) & (QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup),
             QFile::ReadOwner | QFile::WriteOwner);
}

QTEST_MAIN(TstExcelRoster)
#include "tst_excelroster.moc"
