#pragma once

#include "capture/PictureControlSet.h"

#include <functional>

// The test picture's one picture control: its videotestsrc pattern, applied
// through a callback (to the running pipeline and the next start).
class TestPatternControls : public PictureControlSet
{
public:
    static constexpr quint32 PatternId = 1;

    TestPatternControls(int current, std::function<void(int)> apply);

    QList<PictureControl> controls() override;
    bool setValue(quint32 id, int value) override;
    QString lastError() const override { return m_error; }

    int pattern() const { return m_pattern; }
    // videotestsrc's patterns: value and caption, in its own order.
    static QList<QPair<int, QString>> patterns();

private:
    int m_pattern;
    std::function<void(int)> m_apply;
    QString m_error;
};
