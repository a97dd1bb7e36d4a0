#include "dialogs/DialogService.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

QStringList QtDialogService::qtFilters(const QString &barFilter)
{
    QStringList result;
    const QStringList pieces = barFilter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < pieces.size(); i += 2) {
        QStringList patterns;
        for (const QString &p : pieces.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            for (const QString &variant : {pattern, pattern.toLower(), pattern.toUpper()})
                if (!patterns.contains(variant))
                    patterns << variant;
        }
        result << pieces.at(i) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return result;
}

QString QtDialogService::openFileName(QWidget *parent, const QString &title, const QString &folder,
                                      const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, title, folder, qtFilters(filter).join(QStringLiteral(";;")));
}

QString QtDialogService::saveFileName(QWidget *parent, const QString &title, const QString &folder,
                                      const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, title, folder, qtFilters(filter).join(QStringLiteral(";;")),
                                        nullptr, QFileDialog::DontConfirmOverwrite);
}

QString QtDialogService::existingFolder(QWidget *parent, const QString &title, const QString &startFolder)
{
    return QFileDialog::getExistingDirectory(parent, title, startFolder);
}

std::optional<QColor> QtDialogService::color(QWidget *parent, const QColor &initial)
{
    const QColor chosen = QColorDialog::getColor(initial, parent);
    if (!chosen.isValid())
        return std::nullopt;
    return chosen;
}

std::optional<DialogService::FontChoice> QtDialogService::font(QWidget *parent, const QFont &initial,
                                                               const QColor &initialColor, bool withEffects)
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, initial, parent);
    if (!ok)
        return std::nullopt;
    QColor color = initialColor;
    if (withEffects) {
        const QColor picked = QColorDialog::getColor(initialColor, parent);
        if (picked.isValid())
            color = picked;
    }
    return FontChoice{chosen, color};
}

bool QtDialogService::printer(QWidget *parent, PrinterDialog kind)
{
    if (QPrinterInfo::defaultPrinter().isNull() && QPrinterInfo::availablePrinters().isEmpty())
        return false;
    QPrinter printer;
    if (kind == PrinterDialog::Properties) {
        QPageSetupDialog dialog(&printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    return dialog.exec() == QDialog::Accepted;
}
