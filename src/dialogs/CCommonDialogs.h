#pragma once

#include <QString>

class DialogService;
class QWidget;

// The program's wrapper of the file, folder, colour, font and printer
// dialogs: the parameters go into properties, each Show method shows one
// dialog through the DialogService seam and returns whether the operator
// confirmed, and the results come back in the same properties. On a cancel
// no property changes (ShowSave may have corrected Path first).
//
//     CCommonDialogs d(dialogs, QStringLiteral("roster"));
//     d.Init(window);
//     d.SetFilter(QStringLiteral("数据文件(*.DBF)|*.DBF"));
//     if (d.ShowOpen())
//         open(d.filename()); // d.Path() its folder, d.FileTitle() its name
//
// The file and folder dialogs start in the folder last chosen for the same
// purpose during this run (not in the working folder); the first time, the
// open and folder dialogs start in Path when it is a folder, else in the
// home folder.
class CCommonDialogs
{
public:
    explicit CCommonDialogs(DialogService *dialogs, QString purpose = QString());

    bool FontUnderline() const { return m_fontUnderline; }
    void SetFontUnderline(bool on) { m_fontUnderline = on; }
    bool FontItalic() const { return m_fontItalic; }
    void SetFontItalic(bool on) { m_fontItalic = on; }
    bool FontBold() const { return m_fontBold; }
    void SetFontBold(bool on) { m_fontBold = on; }
    // Whole points.
    qint16 FontSize() const { return m_fontSize; }
    void SetFontSize(qint16 points) { m_fontSize = points; }
    QString FontName() const { return m_fontName; }
    void SetFontName(const QString &name) { m_fontName = name; }
    // Packed red | green << 8 | blue << 16.
    qint32 Color() const { return m_color; }
    void SetColor(qint32 packed) { m_color = packed; }
    QString DefExt() const { return m_defExt; }
    void SetDefExt(const QString &ext) { m_defExt = ext; }
    // The getters of Title, Path, FileTitle and filename stop at a NUL.
    QString Title() const { return upToNul(m_title); }
    void SetTitle(const QString &title) { m_title = title; }
    QString Path() const { return upToNul(m_path); }
    void SetPath(const QString &path) { m_path = path; }
    QString FileTitle() const { return upToNul(m_fileTitle); }
    void SetFileTitle(const QString &title) { m_fileTitle = title; }
    // "description|pattern|description|pattern..."
    QString Filter() const { return m_filter; }
    void SetFilter(const QString &filter) { m_filter = filter; }
    QString filename() const { return upToNul(m_filename); }
    void Setfilename(const QString &name) { m_filename = name; }

    // The window that owns every dialog; before any Show method.
    void Init(QWidget *owner);

    bool ShowOpen();
    bool ShowSave();
    bool ShowFolder();
    // fullOpen: Qt's colour dialog always shows its custom colours.
    bool ShowColor(bool fullOpen = false);
    bool ShowFont();
    bool ShowPrinter();
    bool ShowPrinterProperties();

    // The folder a save dialog falls back on: the program's folder when it
    // can be written, else the home folder.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }
    // Forgets the folders remembered for every purpose.
    static void forgetFolders();

private:
    static QString upToNul(const QString &text);
    bool ready() const;
    QString startFolder() const;
    QString fallbackFolder() const;
    // Sets filename, FileTitle and Path from a chosen file.
    void takeFile(const QString &path);

    DialogService *m_dialogs;
    QString m_purpose;
    QWidget *m_owner = nullptr;
    bool m_initialised = false;
    QString m_programFolder;

    bool m_fontUnderline = false;
    bool m_fontItalic = false;
    bool m_fontBold = false;
    qint16 m_fontSize = 0;
    QString m_fontName;
    qint32 m_color = 0;
    QString m_defExt;
    QString m_title;
    QString m_path;
    QString m_fileTitle;
    QString m_filter;
    QString m_filename;
};
