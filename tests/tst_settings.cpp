#include "WindowHarness.h"
#include "app/FramingPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearStore(); }

    void keyTableHoldsEveryKeyOnce();
    void picturesFolderMadeOnlyWhenUsed_data();
    void picturesFolderMadeOnlyWhenUsed();
    void missingKeyGivesTheDefault();
    void firstRunShowsTheDefaults();
    void closeWritesAllKeysOfBothRoutines();
    void quitWritesNothing();
    void emptyNameAndFolderStoredAsDefaults();
    void listIndexRules_data();
    void listIndexRules();
    void storedHeightThatIsNoNumberEndsTheRestore();
    void storedWidthThatIsNoNumberSendsNoCrop();
    void keysNotRestoredAreNotApplied();
    void fullRestore();
    void frameColour_data();
    void frameColour();
};

void TestSettings::keyTableHoldsEveryKeyOnce()
{
    QSet<QString> names;
    int byZpsvset = 0, byZpset = 0;
    for (const SettingsStore::Key &k : SettingsStore::keys()) {
        names.insert(QLatin1String(k.name));
        byZpsvset += QLatin1String(k.writtenBy) == QLatin1String("zpsvset");
        byZpset += QLatin1String(k.writtenBy) == QLatin1String("zpset");
    }
    QCOMPARE(names.size(), 29);
    QCOMPARE(byZpsvset, 14);
    QCOMPARE(byZpset, 14);
    QCOMPARE(SettingsStore::defaultFor(QStringLiteral("zpph")), SettingsStore::defaultSaveFolder());
    QCOMPARE(SettingsStore::defaultFor(QStringLiteral("biakuang")), QStringLiteral("1000"));
}

void TestSettings::picturesFolderMadeOnlyWhenUsed_data()
{
    QTest::addColumn<bool>("storedElsewhere");
    QTest::newRow("no save folder stored") << false;
    QTest::newRow("save folder stored elsewhere") << true;
}

void TestSettings::picturesFolderMadeOnlyWhenUsed()
{
    QFETCH(bool, storedElsewhere);
    const QString pictures = SettingsStore::defaultSaveFolder();
    QDir(pictures).removeRecursively();
    QTemporaryDir elsewhere;
    if (storedElsewhere)
        storeValues({{"zpph", elsewhere.path()}});
    WindowHarness h;
    h.build();
    QCOMPARE(h.w<QLineEdit>("Text1")->text(), storedElsewhere ? elsewhere.path() : pictures);
    QCOMPARE(QFileInfo(pictures).isDir(), !storedElsewhere);
}

void TestSettings::missingKeyGivesTheDefault()
{
    QCOMPARE(SettingsStore::GetSetting("Lumora", "Settings", "zph", "200"), QStringLiteral("200"));
    QVERIFY(SettingsStore::SaveSetting("Lumora", "Settings", "zph", "C:\\照片, 1"));
    QCOMPARE(SettingsStore::GetSetting("Lumora", "Settings", "zph", "200"), QStringLiteral("C:\\照片, 1"));
    // Stored as text under the group "Settings".
    QCOMPARE(lumoraStore().value("Settings/zph").toString(), QStringLiteral("C:\\照片, 1"));
}

void TestSettings::firstRunShowsTheDefaults()
{
    WindowHarness h;
    Form1 &form = h.build();
    QCOMPARE(h.w<QLineEdit>("Text1")->text(), SettingsStore::defaultSaveFolder());
    QCOMPARE(h.w<QLineEdit>("Texfname")->text(), QStringLiteral("DC"));
    QCOMPARE(h.w<QLineEdit>("Texg")->text(), QStringLiteral("200"));
    QCOMPARE(h.w<QLineEdit>("Textk")->text(), QStringLiteral("150"));
    QCOMPARE(h.w<QLineEdit>("Texleft")->text(), QStringLiteral("60"));
    QCOMPARE(h.w<QLineEdit>("Textop")->text(), QStringLiteral("165"));
    QCOMPARE(form.overlayFontSize(), 9.0);
    // The restore ends at the missing colour: the overlay source stays unselected.
    QCOMPARE(h.w<QComboBox>("Comtext")->currentIndex(), -1);
    QCOMPARE(h.w<QLineEdit>("Textt")->text(), QString());
    QCOMPARE(form.frameColour(), 1000);
    QCOMPARE(h.capture.calls, QStringList({"SetCropWidth(150)", "SetCropHeight(200)", "SetSaveFormat()",
                                           "SetCropWidth(150)", "SetCropHeight(200)"}));
    QVERIFY(!lumoraStore().contains("Settings/zpph")); // reading writes nothing
}

void TestSettings::closeWritesAllKeysOfBothRoutines()
{
    WindowHarness h;
    Form1 &form = h.build();
    h.w<QLineEdit>("Texqbm")->setText("20001");
    form.close();

    QSettings store = lumoraStore();
    for (const SettingsStore::Key &k : SettingsStore::keys()) {
        const QString key = QStringLiteral("Settings/") + QLatin1String(k.name);
        QCOMPARE(store.contains(key), QLatin1String(k.name) != QLatin1String("biakuang"));
    }
    // The 28 keys of the two routines, where the window stood and the
    // photo rule and framing choices.
    QStringList written = store.allKeys();
    using W = SettingsStore::WindowKey;
    for (W key : {W::Left, W::Top, W::Width, W::Height, W::Maximised})
        QVERIFY(
            written.removeOne(QStringLiteral("Settings/") + QLatin1String(SettingsStore::windowKey(key))));
    for (const QString &key : FramingPanel::settingsKeys())
        QVERIFY(written.removeOne(QStringLiteral("Settings/") + key));
    QCOMPARE(written.size(), 28);
    const QList<std::pair<const char *, QString>> expected = {
        {"zpph", SettingsStore::defaultSaveFolder()},
        {"kbmche1", "0"},
        {"kbmcom1", "-1"},
        {"zpnametex", "DC"},
        {"zpgscom", "0"},
        {"zph", "200"},
        {"zpw", "150"},
        {"zptexlef", "60"},
        {"zptexsize", "9"},
        {"zptexcolor", "0"},
        {"zptexnrtext", ""},
        {"zpcomtext", "-1"},
        {"bjtexg", "345"},
        {"bjtexk", "449"},
    };
    for (const auto &[key, value] : expected)
        QCOMPARE(store.value(QStringLiteral("Settings/") + QLatin1String(key)).toString(), value);
}

void TestSettings::quitWritesNothing()
{
    storeValues({{"zpph", "/old/folder"}});
    WindowHarness h;
    Form1 &form = h.build();
    QSignalSpy quitting(&form, &Form1::quitRequested);
    h.w<QLineEdit>("Text1")->setText("/new/folder");
    h.w<QAction>("quit")->trigger();
    QCOMPARE(quitting.count(), 1);
    // The window goes down with the program; its close must not write either.
    form.close();
    QSettings store = lumoraStore();
    QCOMPARE(store.allKeys(), QStringList({"Settings/zpph"}));
    QCOMPARE(store.value("Settings/zpph").toString(), QStringLiteral("/old/folder"));
}

void TestSettings::emptyNameAndFolderStoredAsDefaults()
{
    WindowHarness h;
    Form1 &form = h.build();
    h.w<QLineEdit>("Texfname")->clear();
    h.w<QLineEdit>("Text1")->clear();
    form.close();
    QCOMPARE(h.w<QLineEdit>("Texfname")->text(), QStringLiteral("DC"));
    QCOMPARE(h.w<QLineEdit>("Text1")->text(), SettingsStore::defaultSaveFolder());
    QCOMPARE(lumoraStore().value("Settings/zpnametex").toString(), QStringLiteral("DC"));
    QCOMPARE(lumoraStore().value("Settings/zpph").toString(), SettingsStore::defaultSaveFolder());
}

void TestSettings::listIndexRules_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("restoreGoesOn");
    // The overlay source list has three items and is selected at 1 before the restore.
    QTest::newRow("first item") << "0" << 0 << true;
    QTest::newRow("last item") << "2" << 2 << true;
    QTest::newRow("equal to the count") << "3" << 1 << true;
    QTest::newRow("above the count") << "99" << 1 << true;
    QTest::newRow("minus one clears") << "-1" << -1 << true;
    QTest::newRow("fraction rounds") << "1.6" << 2 << true;
    QTest::newRow("blanks around") << " 2 " << 2 << true;
    QTest::newRow("below minus one") << "-2" << 1 << false;
    QTest::newRow("no number") << "abc" << 1 << false;
    QTest::newRow("empty") << "" << 1 << false;
}

void TestSettings::listIndexRules()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    QFETCH(bool, restoreGoesOn);
    WindowHarness h;
    Form1 &form = h.build();
    h.w<QComboBox>("Comtext")->setCurrentIndex(1);
    h.w<QComboBox>("Comt1")->addItems({"A", "B"});
    storeValues({{"zptexcolor", "0"}, {"zpcomtext", stored}, {"zptexcom1", "1"}});
    form.redzpsvset();
    QCOMPARE(h.w<QComboBox>("Comtext")->currentIndex(), expected);
    // The next list is reached only when this one's text was an index.
    QCOMPARE(h.w<QComboBox>("Comt1")->currentIndex(), restoreGoesOn ? 1 : 0);
}

void TestSettings::storedHeightThatIsNoNumberEndsTheRestore()
{
    storeValues(
        {{"zph", "abc"}, {"zptexlef", "5"}, {"zptextop", "6"}, {"zptexsize", "14"}, {"zptexcolor", "255"}});
    WindowHarness h;
    Form1 &form = h.build();
    QCOMPARE(h.w<QLineEdit>("Texg")->text(), QStringLiteral("abc"));
    QCOMPARE(h.w<QLineEdit>("Textk")->text(), QStringLiteral("150"));
    QCOMPARE(h.w<QLineEdit>("Texleft")->text(), QStringLiteral("60"));
    QCOMPARE(h.w<QLineEdit>("Textop")->text(), QStringLiteral("165"));
    QVERIFY(form.overlayFontSize() != 14.0);
    QCOMPARE(form.overlayColour(), 0);
    QCOMPARE(h.capture.CropWidth(), 150);
    QCOMPARE(h.capture.CropHeight(), 200);
    QCOMPARE(h.capture.calls.last(), QStringLiteral("SetCropWidth(150)"));
}

void TestSettings::storedWidthThatIsNoNumberSendsNoCrop()
{
    storeValues({{"zph", "300"}, {"zpw", "12x"}});
    WindowHarness h;
    h.build();
    QCOMPARE(h.capture.calls, QStringList({"SetCropWidth(150)", "SetCropHeight(200)", "SetSaveFormat()"}));
    QCOMPARE(h.w<QLineEdit>("Textk")->text(), QStringLiteral("12x"));
    QCOMPARE(h.w<QLineEdit>("Texleft")->text(), QStringLiteral("60"));
}

void TestSettings::keysNotRestoredAreNotApplied()
{
    storeValues({{"zpgscom", "1"},
                 {"zpqbmche", "1"},
                 {"kbmche1", "1"},
                 {"kbmche2", "1"},
                 {"kbmcom1", "0"},
                 {"zpnameche2", "1"},
                 {"zpszdche", "1"},
                 {"zpszdcom", "0"},
                 {"zpkzmche", "1"},
                 {"zptexche", "1"},
                 {"zptexcheadd", "1"},
                 {"zptexcolor", "0"}});
    WindowHarness h;
    h.build();
    QCOMPARE(h.w<QComboBox>("Comgs")->currentText(), QStringLiteral("jpg"));
    QCOMPARE(h.capture.SaveFormat(), QString());
    for (const char *name : {"Cheqbm", "Chekb1", "Chekb2", "Chefname2", "Chezd", "Chekzm", "Check1", "Cheta"})
        QVERIFY2(!h.w<QCheckBox>(name)->isChecked(), name);
    QVERIFY(h.w<QWidget>("Frame5")->isHidden());
}

void TestSettings::fullRestore()
{
    storeValues({{"zpph", "/srv/照片"},
                 {"zpnametex", "班级"},
                 {"zph", "300"},
                 {"zpw", "240"},
                 {"zptexlef", "20"},
                 {"zptextop", "30"},
                 {"zptexsize", "10.5"},
                 {"zptexcolor", "65280"},
                 {"zptexnrtext", "你好"},
                 {"zpcomtext", "2"}});
    WindowHarness h;
    Form1 &form = h.build();
    QCOMPARE(h.w<QLineEdit>("Text1")->text(), QStringLiteral("/srv/照片"));
    QCOMPARE(h.w<QLineEdit>("Texfname")->text(), QStringLiteral("班级"));
    QCOMPARE(h.capture.calls.mid(3), QStringList({"SetCropWidth(240)", "SetCropHeight(300)"}));
    QCOMPARE(h.w<QLineEdit>("Texleft")->text(), QStringLiteral("20"));
    QCOMPARE(h.w<QLineEdit>("Textop")->text(), QStringLiteral("30"));
    QCOMPARE(form.overlayFontSize(), 10.5);
    QCOMPARE(form.overlayColour(), 65280);
    QCOMPARE(h.w<QLabel>("fLabel")->palette().color(QPalette::WindowText), QColor(0, 255, 0));
    QCOMPARE(h.w<QLineEdit>("Textt")->text(), QStringLiteral("你好"));
    QCOMPARE(h.w<QComboBox>("Comtext")->currentIndex(), 2);

    // Written back as read.
    form.close();
    QCOMPARE(lumoraStore().value("Settings/zptexsize").toString(), QStringLiteral("10.5"));
    QCOMPARE(lumoraStore().value("Settings/zptexcolor").toString(), QStringLiteral("65280"));
    QCOMPARE(lumoraStore().value("Settings/zpph").toString(), QStringLiteral("/srv/照片"));
}

void TestSettings::frameColour_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("noted");
    QTest::newRow("missing") << QString() << 1000 << false;
    QTest::newRow("blue") << "16711680" << 0xff0000 << false;
    QTest::newRow("no number") << "red" << 1000 << true;
    QTest::newRow("negative") << "-5" << 1000 << true;
    QTest::newRow("beyond 24 bits") << "16777216" << 1000 << true;
}

void TestSettings::frameColour()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    QFETCH(bool, noted);
    if (!stored.isNull())
        storeValues({{"biakuang", stored}, {"zph", "300"}});
    WindowHarness h;
    Form1 &form = h.build();
    QCOMPARE(form.frameColour(), expected);
    QCOMPARE(h.w<QWidget>("Frame2")->palette().color(QPalette::Window),
             QColor(expected & 0xff, (expected >> 8) & 0xff, expected >> 16));
    QCOMPARE(form.statusText().contains(QStringLiteral("相框颜色")), noted);
    // The start-up went on to the end: formats listed, settings restored.
    QCOMPARE(h.w<QComboBox>("Comgs")->count(), 2);
    QCOMPARE(h.w<QLineEdit>("Texg")->text(), stored.isNull() ? QStringLiteral("200") : QStringLiteral("300"));
    QVERIFY(!h.w<QPushButton>("Command3")->isEnabled());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
