#include "app/StatusLine.h"

#include <QFontMetrics>
#include <QResizeEvent>

namespace {

const QString kEllipsis = QStringLiteral("…");

// An absolute path inside a message: from a "/" at the start or after a
// blank or an opening mark, up to the punctuation that ends a clause.
struct PathSpan
{
    qsizetype start = 0;
    qsizetype length = 0;
    QStringList folders; // the folders between the root and the file name
    QString file;
    qsizetype head = 0; // folders kept from the start
    qsizetype tail = 0; // folders kept before the file name
    QString fileShown;

    QString shown() const
    {
        QStringList parts{QString()};
        parts += folders.mid(0, head);
        if (head + tail < folders.size())
            parts << kEllipsis;
        parts += folders.mid(folders.size() - tail);
        parts << fileShown;
        return parts.join(QLatin1Char('/'));
    }
    bool canDrop() const { return head + tail > 0; }
    void drop()
    {
        if (head > tail)
            --head;
        else
            --tail;
    }
};

QList<PathSpan> pathsIn(const QString &line)
{
    static const QString opens = QStringLiteral(" ：:（(“「\"'");
    // Not "）": class folders are named "初三（二）班".
    static const QString ends = QStringLiteral("；;，,。”」\"");
    QList<PathSpan> spans;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) != QLatin1Char('/') || (i > 0 && !opens.contains(line.at(i - 1))))
            continue;
        qsizetype end = i;
        while (end < line.size() && !ends.contains(line.at(end)))
            ++end;
        const QStringList parts = line.mid(i + 1, end - i - 1).split(QLatin1Char('/'));
        PathSpan span;
        span.start = i;
        span.length = end - i;
        span.folders = parts.mid(0, parts.size() - 1);
        span.file = span.fileShown = parts.last();
        span.head = (span.folders.size() + 1) / 2;
        span.tail = span.folders.size() / 2;
        spans << span;
        i = end;
    }
    return spans;
}

QString withSpans(const QString &line, const QList<PathSpan> &spans)
{
    QString out;
    qsizetype at = 0;
    for (const PathSpan &span : spans) {
        out += line.mid(at, span.start - at) + span.shown();
        at = span.start + span.length;
    }
    return out + line.mid(at);
}

} // namespace

QString FitStatusText(const QString &text, const QFontMetrics &metrics, int width)
{
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    width = qMax(0, width);
    if (metrics.horizontalAdvance(line) <= width)
        return line;
    QList<PathSpan> spans = pathsIn(line);
    QString shown = line;
    // Folders go first, from the middle of the widest path shown.
    while (metrics.horizontalAdvance(shown) > width) {
        PathSpan *widest = nullptr;
        for (PathSpan &span : spans)
            if (span.canDrop() && (!widest || metrics.horizontalAdvance(span.shown()) >
                                                  metrics.horizontalAdvance(widest->shown())))
                widest = &span;
        if (!widest)
            break;
        widest->drop();
        shown = withSpans(line, spans);
    }
    // Then the middle of the longest file name, down to a few characters.
    if (metrics.horizontalAdvance(shown) > width && !spans.isEmpty()) {
        PathSpan *longest = &spans.first();
        for (PathSpan &span : spans)
            if (metrics.horizontalAdvance(span.file) > metrics.horizontalAdvance(longest->file))
                longest = &span;
        const int excess = metrics.horizontalAdvance(shown) - width;
        const int room =
            qMax(metrics.horizontalAdvance(longest->file.left(6)) + metrics.horizontalAdvance(kEllipsis),
                 metrics.horizontalAdvance(longest->file) - excess);
        longest->fileShown = metrics.elidedText(longest->file, Qt::ElideMiddle, room);
        shown = withSpans(line, spans);
    }
    if (metrics.horizontalAdvance(shown) > width)
        shown = metrics.elidedText(shown, Qt::ElideRight, width);
    return shown;
}

StatusLine::StatusLine(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("statusLine"));
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void StatusLine::setMessage(const QString &text)
{
    m_message = text;
    fit();
}

QSize StatusLine::minimumSizeHint() const
{
    // Any width will do: the text is shortened to fit.
    return {0, QLabel::minimumSizeHint().height()};
}

void StatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    fit();
}

void StatusLine::fit()
{
    QString line = m_message;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QString shown = FitStatusText(m_message, fontMetrics(), contentsRect().width());
    setText(shown);
    setToolTip(shown == line ? QString() : m_message);
}
