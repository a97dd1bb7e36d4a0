// The module: the framing on OpenCV, made through its one entry point.
#include "framing/FramingEngine.h"

namespace {

class OpenCvFraming : public FramingEngine
{
public:
    bool isReady() const override { return m_finder.isReady(); }
    QString error() const override { return m_finder.error(); }
    QList<FoundFace> find(const QImage &picture, int workWidth) const override
    {
        return m_finder.find(picture, workWidth);
    }
    FramingReport assess(const QImage &picture, const QList<FoundFace> &faces, QSize crop, const IdRule &rule,
                         bool autoCentre) const override
    {
        return assessFraming(picture, faces, crop, rule, autoCentre);
    }

private:
    FaceFinder m_finder;
};

} // namespace

extern "C" Q_DECL_EXPORT FramingEngine *lumoraMakeFramingEngine()
{
    return new OpenCvFraming;
}
