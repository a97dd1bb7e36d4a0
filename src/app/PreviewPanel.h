#pragma once

#include "dialogs/PackedColour.h"

#include <QObject>
#include <QString>

class QColor;
class QGroupBox;
class QLabel;

// The preview panel: the frame Frame2 ("预览") in the frame colour, with the
// picture Image1 centred in it — the placeholder, the still just taken, or
// the photo saved for the current row. It also knows the program's own
// folder, where the placeholder lies and temp.jpg goes.
class PreviewPanel : public QObject
{
    Q_OBJECT
public:
    PreviewPanel(QGroupBox *Frame2, QLabel *Image1, QString programFolder, QObject *parent = nullptr);

    QString placeholderPath() const;
    // temp.jpg in the program folder, or in the per-user cache folder when
    // the program folder cannot be written or is shared.
    QString tempPhotoPath() const;
    void setProgramFolderShared(bool shared) { m_shared = shared; }
    const QString &programFolder() const { return m_folder; }

    // Loads a picture into Image1 at its own size (format taken from the
    // content); false when it cannot be read, Image1 then keeps its picture.
    bool loadPicture(const QString &path);
    // Centres Image1 in Frame2.
    void CentrePreviewPicture();
    // The photo at `path` or, when there is none, the placeholder; centred.
    void showPhotoOrPlaceholder(const QString &path);
    // The listed photo at `path` or the placeholder (ordinary mode's list).
    void showListed(const QString &path);

    // The frame colour, packed red | green << 8 | blue << 16.
    int frameColour() const { return m_frameColour; }
    void setFrameColour(int packed);

private:
    QGroupBox *m_frame;
    QLabel *m_image;
    QString m_folder;
    bool m_shared = false;
    int m_frameColour = 1000;
};

// `name` in `folder`, with one "/" between them.
QString JoinPath(const QString &folder, const QString &name);
