#include "capture/TestPatternControls.h"

#include "capture/GstHandle.h"
#include "capture/GstRuntime.h"

#include <QHash>

#include <algorithm>

TestPatternControls::TestPatternControls(int current, std::function<void(int)> apply)
    : m_pattern(current)
    , m_apply(std::move(apply))
{
}

namespace {
QList<QPair<int, QString>> loadPatterns()
{
    static const QHash<QString, QString> captions{
        {QStringLiteral("smpte"), QStringLiteral("彩条")},
        {QStringLiteral("snow"), QStringLiteral("雪花")},
        {QStringLiteral("black"), QStringLiteral("黑色")},
        {QStringLiteral("white"), QStringLiteral("白色")},
        {QStringLiteral("red"), QStringLiteral("红色")},
        {QStringLiteral("green"), QStringLiteral("绿色")},
        {QStringLiteral("blue"), QStringLiteral("蓝色")},
        {QStringLiteral("checkers-1"), QStringLiteral("棋盘格 1")},
        {QStringLiteral("checkers-8"), QStringLiteral("棋盘格 8")},
        {QStringLiteral("circular"), QStringLiteral("同心圆")},
        {QStringLiteral("ball"), QStringLiteral("运动的球")},
        {QStringLiteral("smpte75"), QStringLiteral("彩条 75%")},
        {QStringLiteral("gradient"), QStringLiteral("渐变")},
        {QStringLiteral("colors"), QStringLiteral("全色")},
        {QStringLiteral("smpte100"), QStringLiteral("彩条 100%")},
        {QStringLiteral("bar"), QStringLiteral("竖条")},
    };
    QList<QPair<int, QString>> out;
    if (!ensureGstInitialised())
        return out;
    GstElement *src = gst_element_factory_make("videotestsrc", nullptr);
    if (!src)
        return out;
    gst_object_ref_sink(src);
    GstHandle<GstElement> holder(src);
    GParamSpec *property = g_object_class_find_property(G_OBJECT_GET_CLASS(src), "pattern");
    if (property && G_IS_PARAM_SPEC_ENUM(property)) {
        const GEnumClass *enums = G_PARAM_SPEC_ENUM(property)->enum_class;
        for (guint i = 0; i < enums->n_values; ++i) {
            const GEnumValue &v = enums->values[i];
            const QString nick = QString::fromUtf8(v.value_nick);
            const QString caption = captions.value(nick);
            out.append({v.value,
                        caption.isEmpty() ? nick : caption + QStringLiteral(" (") + nick + QLatin1Char(')')});
        }
    }
    return out;
}
} // namespace

QList<QPair<int, QString>> TestPatternControls::patterns()
{
    // The list is fixed for the life of the process.
    static const QList<QPair<int, QString>> cached = loadPatterns();
    return cached;
}

QList<PictureControl> TestPatternControls::controls()
{
    PictureControl c;
    c.id = PatternId;
    c.name = QStringLiteral("图案");
    c.type = PictureControl::Type::Menu;
    c.menu = patterns();
    if (c.menu.isEmpty())
        return {};
    c.minimum = c.menu.first().first;
    c.maximum = c.menu.last().first;
    c.defaultValue = 0;
    c.value = m_pattern;
    return {c};
}

bool TestPatternControls::setValue(quint32 id, int value)
{
    if (id != PatternId) {
        m_error = QStringLiteral("测试图像没有这个设置");
        return false;
    }
    const auto all = patterns();
    if (std::none_of(all.begin(), all.end(), [value](const auto &p) { return p.first == value; })) {
        m_error = QStringLiteral("没有这个图案：%1").arg(value);
        return false;
    }
    m_pattern = value;
    if (m_apply)
        m_apply(value);
    return true;
}
