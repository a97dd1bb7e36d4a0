// Qt's own buttons speak Chinese whatever the system's language.

#include "app/QtTranslations.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

class TstQtTranslations : public QObject
{
    Q_OBJECT
private slots:
    void overwriteQuestionReadsYesNoInChinese_data();
    void overwriteQuestionReadsYesNoInChinese();
};

void TstQtTranslations::overwriteQuestionReadsYesNoInChinese_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<QString>("no");
    QTest::newRow("Chinese system") << "zh_CN"
                                    << "是"
                                    << "否";
    QTest::newRow("Traditional Chinese system") << "zh_TW"
                                                << "是"
                                                << "否";
    QTest::newRow("English system") << "en_US"
                                    << "是"
                                    << "否";
    QTest::newRow("C locale") << "C"
                              << "是"
                              << "否";
    QTest::newRow("German system") << "de_DE"
                                   << "是"
                                   << "否";
}

void TstQtTranslations::overwriteQuestionReadsYesNoInChinese()
{
    QFETCH(QString, locale);
    QFETCH(QString, yes);
    QFETCH(QString, no);
    QTranslator *installed = InstallQtTranslations(*qApp, QLocale(locale));
    QVERIFY2(installed, "Qt's translations (qt6-translations-l10n) are missing");
    QMessageBox box(QMessageBox::Question, QStringLiteral("Lumora"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No);
    const QString yesText = box.button(QMessageBox::Yes)->text();
    const QString noText = box.button(QMessageBox::No)->text();
    QCoreApplication::removeTranslator(installed);
    delete installed;
    QVERIFY2(yesText.contains(yes), qPrintable(yesText));
    QVERIFY2(noText.contains(no), qPrintable(noText));
}

QTEST_MAIN(TstQtTranslations)
#include "tst_qttranslations.moc"
