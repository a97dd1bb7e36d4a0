#include "capture/BarcodeScanner.h"

// Results as UTF-8 text, the form ZXing-C++ moves to in its next release.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <QThread>

#include <memory>

namespace {

ZXing::DecodeHints hints()
{
    ZXing::DecodeHints h;
    h.setFormats(ZXing::BarcodeFormat::QRCode | ZXing::BarcodeFormat::DataMatrix |
                 ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::Code39 | ZXing::BarcodeFormat::EAN13 |
                 ZXing::BarcodeFormat::EAN8 | ZXing::BarcodeFormat::UPCA | ZXing::BarcodeFormat::UPCE);
    // A card held up to the camera is seldom square to it.
    h.setTryRotate(true);
    h.setTryHarder(true);
    h.setTryDownscale(true);
    return h;
}

} // namespace

QList<DecodedCode> BarcodeDecoder::decode(const QImage &picture) const
{
    if (picture.isNull())
        return {};
    // ZXing reads grey levels; one byte a pixel is what it works on anyway.
    const QImage grey = picture.format() == QImage::Format_Grayscale8
                            ? picture
                            : picture.convertToFormat(QImage::Format_Grayscale8);
    static const ZXing::DecodeHints decodeHints = hints();
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(), ZXing::ImageFormat::Lum,
                                int(grey.bytesPerLine()));
    QList<DecodedCode> codes;
    for (const ZXing::Result &result : ZXing::ReadBarcodes(view, decodeHints)) {
        if (!result.isValid())
            continue;
        const QString text = QString::fromStdString(result.text());
        if (text.isEmpty() ||
            std::any_of(codes.cbegin(), codes.cend(), [&](const DecodedCode &c) { return c.text == text; }))
            continue;
        codes << DecodedCode{text, QString::fromLatin1(ZXing::ToString(result.format()))};
    }
    return codes;
}

QStringList CodeAppearance::update(const QStringList &seen)
{
    QStringList appeared;
    for (auto it = m_missed.begin(); it != m_missed.end();) {
        if (seen.contains(it.key())) {
            it.value() = 0;
            ++it;
        } else if (++it.value() >= m_missesToForget) {
            it = m_missed.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString &code : seen) {
        if (!m_missed.contains(code)) {
            m_missed.insert(code, 0);
            appeared << code;
        }
    }
    return appeared;
}

void CameraScanner::Worker::scanFrame(const QImage &picture)
{
    QStringList texts;
    for (const DecodedCode &code : m_decoder.decode(picture))
        texts << code.text;
    m_busy->store(false);
    emit codesSeen(texts);
}

CameraScanner::CameraScanner(QObject *parent)
    : QObject(parent)
    , m_thread(new QThread(this))
    , m_busy(std::make_shared<std::atomic_bool>(false))
{
    m_thread->setObjectName(QStringLiteral("codeScanner"));
    m_worker = new Worker(m_busy);
    m_worker->moveToThread(m_thread);
    connect(m_worker, &Worker::codesSeen, this, [this](const QStringList &codes) {
        emit decoded(codes);
        for (const QString &code : m_appearance.update(codes))
            emit appeared(code);
    });
    m_thread->start(QThread::LowPriority);
}

CameraScanner::~CameraScanner()
{
    m_thread->quit();
    m_thread->wait();
    // Its thread has ended: nothing runs it any more.
    delete m_worker;
}

bool CameraScanner::offer(const QImage &picture)
{
    if (picture.isNull())
        return false;
    bool idle = false;
    if (!m_busy->compare_exchange_strong(idle, true))
        return false;
    QMetaObject::invokeMethod(m_worker, "scanFrame", Qt::QueuedConnection, Q_ARG(QImage, picture));
    return true;
}
