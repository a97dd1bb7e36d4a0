#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

namespace lumora::engine {

// A list of texts held in one QString, so that a row of cells costs a single
// allocation: the first character is the number of texts n, the next 2n
// characters the end of each text (32 bits in two characters, counted from
// the first text), then the texts one after another. No texts is the null
// string. Being a QString, a packed row is implicitly shared: a grid can take
// the rows of a result without copying them.
class PackedTexts
{
public:
    static constexpr qsizetype kMaxCount = 0xFFFF;

    static qsizetype count(const QString &packed) { return packed.isEmpty() ? 0 : packed.at(0).unicode(); }

    // Text i, or an empty view past the end.
    static QStringView at(const QString &packed, qsizetype i)
    {
        const qsizetype n = count(packed);
        if (i < 0 || i >= n)
            return {};
        const qsizetype base = 1 + 2 * n;
        const qsizetype start = i == 0 ? 0 : end(packed, i - 1);
        return QStringView(packed).sliced(base + start, end(packed, i) - start);
    }

    // Texts first .. first + n - 1 (fewer past the end).
    static QStringList list(const QString &packed, qsizetype first = 0, qsizetype n = -1)
    {
        const qsizetype total = count(packed);
        first = qBound<qsizetype>(0, first, total);
        const qsizetype last = n < 0 ? total : qMin(total, first + n);
        QStringList out;
        out.reserve(last - first);
        for (qsizetype i = first; i < last; ++i)
            out.append(at(packed, i).toString());
        return out;
    }

    // Packs the first n texts of `texts` (all when n is negative); at most
    // kMaxCount are kept.
    static QString pack(const QStringList &texts, qsizetype n = -1)
    {
        n = qMin(n < 0 ? texts.size() : qMin(n, texts.size()), kMaxCount);
        if (n == 0)
            return {};
        qsizetype length = 0;
        for (qsizetype i = 0; i < n; ++i)
            length += texts.at(i).size();
        QString packed(1 + 2 * n + length, Qt::Uninitialized);
        QChar *out = packed.data();
        out[0] = QChar(char16_t(n));
        QChar *text = out + 1 + 2 * n;
        quint32 endAt = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const QString &t = texts.at(i);
            std::copy(t.cbegin(), t.cend(), text + endAt);
            endAt += quint32(t.size());
            out[1 + 2 * i] = QChar(char16_t(endAt & 0xFFFF));
            out[2 + 2 * i] = QChar(char16_t(endAt >> 16));
        }
        return packed;
    }

    // The texts with text i replaced (the list grows with empty texts to
    // reach it).
    static QString replaced(const QString &packed, qsizetype i, const QString &text)
    {
        QStringList texts = list(packed);
        if (texts.size() <= i)
            texts.resize(i + 1);
        texts[i] = text;
        return pack(texts);
    }

private:
    static qsizetype end(const QString &packed, qsizetype i)
    {
        return qsizetype(packed.at(1 + 2 * i).unicode()) | (qsizetype(packed.at(2 + 2 * i).unicode()) << 16);
    }
};

} // namespace lumora::engine
