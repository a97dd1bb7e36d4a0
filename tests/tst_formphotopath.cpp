#include "data/RosterCursor.h"
#include "data/RosterModel.h"
#include "naming/FolderBrowser.h"
#include "naming/FormPhotoPath.h"
#include "naming/SafeName.h"

#include "ScriptedServices.h"

#include <QTest>

Q_DECLARE_METATYPE(NamingInputs)
Q_DECLARE_METATYPE(NamingState)

namespace {

// Grid columns of the current row in these cases: 0 row header, 1 学号,
// 2 姓名, 3 班级, 4 年级, 5 备注.
enum Picker {
    Id = 0,
    Name = 1,
    Class = 2,
    Grade = 3,
    Note = 4
};

const QString kKeep = QStringLiteral("<kept>");

QStringList row(const QString &note = QString(), const QString &name = QStringLiteral("张三"),
                const QString &klass = QStringLiteral("一班"))
{
    return {QStringLiteral("3"), QStringLiteral("10003"), name, klass, QStringLiteral("高一"), note};
}

NamingInputs tableMode(const QString &folder = QStringLiteral("/srv/photos"))
{
    NamingInputs in;
    in.saveFolder = folder;
    in.tableMode = true;
    in.name1Index = Name;
    in.format = QStringLiteral("jpg");
    return in;
}

NamingInputs ordinaryMode(const QString &folder, const QString &typed)
{
    NamingInputs in;
    in.saveFolder = folder;
    in.typedName = typed;
    in.format = QStringLiteral("jpg");
    return in;
}

NamingInputs withNumber(NamingInputs in, const QString &number = QStringLiteral("10001"))
{
    in.numberOn = true;
    in.numberText = number;
    return in;
}

NamingInputs withSub1(NamingInputs in, int index = Class)
{
    in.subFolder1On = true;
    in.subFolder1Index = index;
    return in;
}

NamingState state(const QString &base, const QString &sub1, const QString &sub2, const QString &folder,
                  const QString &name, const QString &path)
{
    return {base, sub1, sub2, folder, name, path};
}

const NamingState kPrevious =
    state(QStringLiteral("/old/"), QStringLiteral("旧1"), QStringLiteral("旧2"), QStringLiteral("/old/旧1/"),
          QStringLiteral("旧名"), QStringLiteral("/old/旧1/旧名.jpg"));

RowCellReader listReader(const QStringList &cells)
{
    return [cells](int column) -> std::optional<QString> {
        if (column < 0 || column >= cells.size())
            return std::nullopt;
        return cells.at(column);
    };
}

} // namespace

class TestFormPhotoPath : public QObject
{
    Q_OBJECT
private slots:
    void formPhotoPath_data();
    void formPhotoPath();
    void safeNamePart_data();
    void safeNamePart();
    void readsTheGridsCurrentRow();
    void folderBrowser();
};

void TestFormPhotoPath::formPhotoPath_data()
{
    QTest::addColumn<NamingInputs>("inputs");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<NamingState>("expected");
    QTest::addColumn<QString>("text2"); // kKeep: Text2 keeps its text
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("refused");

    const NamingInputs example = withNumber(withSub1(tableMode()));
    QTest::newRow("worked example: class folder, name, number")
        << example << row()
        << state("/srv/photos/", "一班", "旧2", "/srv/photos/一班/", "张三10001",
                 "/srv/photos/一班/张三10001.jpg")
        << "照片保存目录及文件名：/srv/photos/一班/张三10001.jpg" << QString() << false;

    QTest::newRow("root folder keeps its single slash")
        << ordinaryMode("/", "DC") << row() << state("/", "旧1", "旧2", "/", "DC", "/DC.jpg")
        << "照片保存目录及文件名：/DC.jpg" << QString() << false;

    QTest::newRow("folder already ending with a slash")
        << ordinaryMode("/home/a/photos/", "DC") << row()
        << state("/home/a/photos/", "旧1", "旧2", "/home/a/photos/", "DC", "/home/a/photos/DC.jpg")
        << "照片保存目录及文件名：/home/a/photos/DC.jpg" << QString() << false;

    NamingInputs bmp = ordinaryMode("/home/a/photos", "DC");
    bmp.format = "bmp";
    QTest::newRow("ordinary, number off, bmp")
        << bmp << row()
        << state("/home/a/photos/", "旧1", "旧2", "/home/a/photos/", "DC", "/home/a/photos/DC.bmp")
        << "照片保存目录及文件名：/home/a/photos/DC.bmp" << QString() << false;

    QTest::newRow("ordinary, number on") << withNumber(ordinaryMode("/p", "DC")) << row()
                                         << state("/p/", "旧1", "旧2", "/p/", "DC10001", "/p/DC10001.jpg")
                                         << "照片保存目录及文件名：/p/DC10001.jpg" << QString() << false;

    NamingInputs ordinaryTicks = withNumber(withSub1(ordinaryMode("/p", "DC")));
    ordinaryTicks.subFolder2On = true;
    QTest::newRow("ordinary mode ignores the sub-folder ticks")
        << ordinaryTicks << row() << state("/p/", "旧1", "旧2", "/p/", "DC10001", "/p/DC10001.jpg")
        << "照片保存目录及文件名：/p/DC10001.jpg" << QString() << false;

    NamingInputs both = withSub1(tableMode("/p"), Grade);
    both.subFolder2On = true;
    both.subFolder2Index = Class;
    QTest::newRow("both sub-folders")
        << both << row() << state("/p/", "高一", "一班", "/p/高一/一班/", "张三", "/p/高一/一班/张三.jpg")
        << "照片保存目录及文件名：/p/高一/一班/张三.jpg" << QString() << false;

    NamingInputs twoNames = withNumber(tableMode("/p"));
    twoNames.name1Index = Id;
    twoNames.name2On = true;
    twoNames.name2Index = Name;
    QTest::newRow("two name columns joined, then the number")
        << twoNames << row() << state("/p/", "旧1", "旧2", "/p/", "10003张三10001", "/p/10003张三10001.jpg")
        << "照片保存目录及文件名：/p/10003张三10001.jpg" << QString() << false;

    // A person without a name gets no hidden ".jpg" and no bare number.
    QTest::newRow("empty name cell, number off")
        << withSub1(tableMode("/p")) << row(QString(), QString()) << state("/p/", "一班", "旧2", "", "", "")
        << "照片保存目录及文件名：" << QString() << true;
    QTest::newRow("empty name cell, number on")
        << withNumber(tableMode("/p")) << row(QString(), QString())
        << state("/p/", "旧1", "旧2", "", "10001", "") << "照片保存目录及文件名：" << QString() << true;
    QTest::newRow("name cell of blanks only")
        << tableMode("/p") << row(QString(), QStringLiteral(" \t "))
        << state("/p/", "旧1", "旧2", "", " _ ", "") << "照片保存目录及文件名：" << QString() << true;
    NamingInputs secondName = tableMode("/p");
    secondName.name2On = true;
    secondName.name2Index = Id;
    QTest::newRow("empty name cell, the second name column fills in")
        << secondName << row(QString(), QString())
        << state("/p/", "旧1", "旧2", "/p/", "10003", "/p/10003.jpg") << "照片保存目录及文件名：/p/10003.jpg"
        << QString() << false;

    NamingInputs noSelection = tableMode("/p");
    noSelection.name1Index = -1;
    QTest::newRow("picker without selection reads the row-header column")
        << noSelection << row() << state("/p/", "旧1", "旧2", "/p/", "3", "/p/3.jpg")
        << "照片保存目录及文件名：/p/3.jpg" << QString() << false;

    NamingInputs sub2WithoutSub1 = tableMode("/p");
    sub2WithoutSub1.subFolder2On = true;
    sub2WithoutSub1.subFolder2Index = Class;
    QTest::newRow("clear sub-folder boxes keep the last sub-folder texts")
        << sub2WithoutSub1 << row() << state("/p/", "旧1", "旧2", "/p/", "张三", "/p/张三.jpg")
        << "照片保存目录及文件名：/p/张三.jpg" << QString() << false;

    QTest::newRow("cell texts are not trimmed")
        << withSub1(tableMode("/p")) << row(QString(), " 张三 ", " 一班")
        << state("/p/", " 一班", "旧2", "/p/ 一班/", " 张三 ", "/p/ 一班/ 张三 .jpg")
        << "照片保存目录及文件名：/p/ 一班/ 张三 .jpg" << QString() << false;

    QTest::newRow("empty save folder: message, nothing changes")
        << withNumber(withSub1(tableMode(QString()))) << row() << kPrevious << kKeep
        << "请点击 浏览 按钮，先设置保存目录！" << false;

    QTest::newRow("empty typed name: message, only the base folder changes")
        << ordinaryMode("/p", QString()) << row()
        << state("/p/", "旧1", "旧2", "/old/旧1/", "旧名", "/old/旧1/旧名.jpg") << kKeep
        << "没有输入文件名，请输入！" << false;

    NamingInputs tableNoTyped = tableMode("/p");
    QTest::newRow("data-table mode does not need a typed name")
        << tableNoTyped << row() << state("/p/", "旧1", "旧2", "/p/", "张三", "/p/张三.jpg")
        << "照片保存目录及文件名：/p/张三.jpg" << QString() << false;

    NamingInputs unreadable = withSub1(tableMode("/p"));
    unreadable.name1Index = 40;
    QTest::newRow("unreadable cell stops silently where it got")
        << unreadable << row() << state("/p/", "一班", "旧2", "/old/旧1/", "旧名", "/old/旧1/旧名.jpg")
        << kKeep << QString() << false;

    // Texts that would leave the save folder.
    QTest::newRow("slash in a name cell becomes the full-width solidus")
        << tableMode("/p") << row(QString(), "a/b")
        << state("/p/", "旧1", "旧2", "/p/", "a／b", "/p/a／b.jpg") << "照片保存目录及文件名：/p/a／b.jpg"
        << QString() << false;

    QTest::newRow("slash in a sub-folder cell stays one folder")
        << withSub1(tableMode("/p")) << row(QString(), "张三", "../../etc")
        << state("/p/", "..／..／etc", "旧2", "/p/..／..／etc/", "张三", "/p/..／..／etc/张三.jpg")
        << "照片保存目录及文件名：/p/..／..／etc/张三.jpg" << QString() << false;

    QTest::newRow("tab in a name cell")
        << tableMode("/p") << row(QString(), "x\ty") << state("/p/", "旧1", "旧2", "/p/", "x_y", "/p/x_y.jpg")
        << "照片保存目录及文件名：/p/x_y.jpg" << QString() << false;

    QTest::newRow("control characters and DEL")
        << tableMode("/p") << row(QString(), QString::fromUtf8("a\x01\x1f\x7f\n", 5) + QChar(0) + "b")
        << state("/p/", "旧1", "旧2", "/p/", "a_____b", "/p/a_____b.jpg")
        << "照片保存目录及文件名：/p/a_____b.jpg" << QString() << false;

    QTest::newRow("dot-dot as a sub-folder is refused")
        << withSub1(tableMode("/p")) << row(QString(), "张三", "..")
        << state("/p/", "..", "旧2", "", "张三", "") << "照片保存目录及文件名：" << QString() << true;

    QTest::newRow("dot as a sub-folder is refused")
        << withSub1(tableMode("/p")) << row(QString(), "张三", ".")
        << state("/p/", ".", "旧2", "", "张三", "") << "照片保存目录及文件名：" << QString() << true;

    NamingInputs dotSub2 = both;
    QTest::newRow("dot-dot as the second sub-folder is refused")
        << dotSub2 << row(QString(), "张三", "..") << state("/p/", "高一", "..", "", "张三", "")
        << "照片保存目录及文件名：" << QString() << true;

    QTest::newRow("dots inside a folder name are kept")
        << withSub1(tableMode("/p")) << row(QString(), "张三", "a..b")
        << state("/p/", "a..b", "旧2", "/p/a..b/", "张三", "/p/a..b/张三.jpg")
        << "照片保存目录及文件名：/p/a..b/张三.jpg" << QString() << false;

    QTest::newRow("dot-dot as a file name stays in its folder")
        << tableMode("/p") << row(QString(), "..") << state("/p/", "旧1", "旧2", "/p/", "..", "/p/...jpg")
        << "照片保存目录及文件名：/p/...jpg" << QString() << false;

    QTest::newRow("typed name with a slash") << ordinaryMode("/p", "../DC") << row()
                                             << state("/p/", "旧1", "旧2", "/p/", "..／DC", "/p/..／DC.jpg")
                                             << "照片保存目录及文件名：/p/..／DC.jpg" << QString() << false;

    QTest::newRow("number text with a slash") << withNumber(ordinaryMode("/p", "DC"), "1/2") << row()
                                              << state("/p/", "旧1", "旧2", "/p/", "DC1／2", "/p/DC1／2.jpg")
                                              << "照片保存目录及文件名：/p/DC1／2.jpg" << QString() << false;
}

void TestFormPhotoPath::formPhotoPath()
{
    QFETCH(NamingInputs, inputs);
    QFETCH(QStringList, cells);
    QFETCH(NamingState, expected);
    QFETCH(QString, text2);
    QFETCH(QString, message);
    QFETCH(bool, refused);

    const PhotoPathResult r = FormPhotoPath(inputs, listReader(cells), kPrevious);
    QCOMPARE(r.state.baseFolder, expected.baseFolder);
    QCOMPARE(r.state.subFolder1, expected.subFolder1);
    QCOMPARE(r.state.subFolder2, expected.subFolder2);
    QCOMPARE(r.state.photoFolder, expected.photoFolder);
    QCOMPARE(r.state.photoName, expected.photoName);
    QCOMPARE(r.state.photoPath, expected.photoPath);
    QCOMPARE(r.text2().value_or(kKeep), text2);
    QCOMPARE(r.message, message);
    QCOMPARE(!r.problem.isEmpty(), refused);
}

void TestFormPhotoPath::safeNamePart_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("safe");
    QTest::newRow("plain Chinese") << "张三"
                                   << "张三";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("blanks kept") << "  a b  "
                                 << "  a b  ";
    QTest::newRow("backslash is an ordinary character here") << "a\\b"
                                                             << "a\\b";
    QTest::newRow("slashes") << "/a//b/"
                             << "／a／／b／";
    QTest::newRow("carriage return and line feed") << "a\r\nb"
                                                   << "a__b";
    QTest::newRow("unit separator and DEL") << QString("a\x1f\x7f") << "a__";
    QTest::newRow("space and tilde untouched") << " ~"
                                               << " ~";
    QTest::newRow("C1 controls untouched") << QString(QChar(0x85)) << QString(QChar(0x85));
}

void TestFormPhotoPath::safeNamePart()
{
    QFETCH(QString, text);
    QFETCH(QString, safe);
    QCOMPARE(::safeNamePart(text), safe);
}

void TestFormPhotoPath::readsTheGridsCurrentRow()
{
    RosterModel grid;
    grid.setCols(4);
    grid.setRows(4);
    for (int r = 1; r < 4; ++r) {
        grid.setCellText(r, 0, QString::number(r));
        grid.setCellText(r, 1, QStringLiteral("名%1").arg(r));
        grid.setCellText(r, 2, QStringLiteral("班%1").arg(r));
    }
    RosterCursor cursor;
    cursor.setCurrentRow(2);
    const RowCellReader cells = currentRowCells(grid, cursor);
    QCOMPARE(cells(0), std::optional<QString>(QStringLiteral("2")));
    QCOMPARE(cells(2), std::optional<QString>(QStringLiteral("班2")));
    QCOMPARE(cells(3), std::optional<QString>(QString()));
    QCOMPARE(cells(4), std::nullopt);

    NamingInputs in = withSub1(tableMode("/p"), 1);
    in.name1Index = 0;
    PhotoPathResult r = FormPhotoPath(in, cells, {});
    QCOMPARE(r.state.photoPath, QStringLiteral("/p/班2/名2.jpg"));

    // The reader follows the row the grid moves to.
    cursor.setCurrentRow(3);
    r = FormPhotoPath(in, cells, r.state);
    QCOMPARE(r.state.photoPath, QStringLiteral("/p/班3/名3.jpg"));

    cursor.setCurrentRow(9);
    r = FormPhotoPath(in, cells, r.state);
    QVERIFY(!r.text2());
    QCOMPARE(r.state.photoPath, QStringLiteral("/p/班3/名3.jpg"));
}

void TestFormPhotoPath::folderBrowser()
{
    ScriptedDialogs dialogs;
    dialogs.folders << QStringLiteral("/srv/photos/") << QStringLiteral("/");
    QCOMPARE(browseSaveFolder(dialogs, nullptr), QStringLiteral("/srv/photos"));
    QCOMPARE(browseSaveFolder(dialogs, nullptr), QStringLiteral("/"));
    QCOMPARE(browseSaveFolder(dialogs, nullptr), QString()); // cancelled
    QCOMPARE(dialogs.calls, QStringList(3, QStringLiteral("folder:请选择目标文件夹路径：")));
}

QTEST_MAIN(TestFormPhotoPath)
#include "tst_formphotopath.moc"
