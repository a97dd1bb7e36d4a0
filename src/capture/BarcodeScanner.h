#pragma once

#include <QImage>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <atomic>

class QThread;

// One code found in a picture: its text and its kind ("QRCode", "Code128",
// "Code39", "EAN-13", "EAN-8", "UPC-A", "UPC-E", "DataMatrix").
struct DecodedCode
{
    QString text;
    QString format;
};

// Finds the QR, Data Matrix, Code 128, Code 39 and EAN/UPC codes in a
// picture, turned any way and at any size the decoder can read (ZXing-C++).
// Holds no state between calls: one instance may serve one thread at a time.
class BarcodeDecoder
{
public:
    // Every code found, each text once, in the decoder's order.
    QList<DecodedCode> decode(const QImage &picture) const;
};

// Tells when a code comes into view: given the codes of each picture looked
// at in turn, a code counts as new the first time it is seen after it was
// missing from `missesToForget` pictures in a row (a decoder misses a code
// in a picture now and then while it stays in view).
class CodeAppearance
{
public:
    explicit CodeAppearance(int missesToForget = 3)
        : m_missesToForget(missesToForget)
    {
    }
    // The codes of `seen` that just came into view.
    QStringList update(const QStringList &seen);
    void reset() { m_missed.clear(); }

private:
    int m_missesToForget;
    QHash<QString, int> m_missed; // codes in view -> pictures in a row without them
};

// Decodes pictures on a worker thread of its own. offer() hands a picture
// over unless the worker is still busy with the one before, so the caller
// never waits and never queues pictures up; each decoded picture ends in
// decoded() on the caller's thread, and a code coming into view in
// appeared().
class CameraScanner : public QObject
{
    Q_OBJECT
public:
    explicit CameraScanner(QObject *parent = nullptr);
    ~CameraScanner() override;

    // False (and the picture dropped) while the one before is being decoded.
    bool offer(const QImage &picture);
    // Forgets the codes in view: each is new again when next seen.
    void resetAppearance() { m_appearance.reset(); }

signals:
    void decoded(const QStringList &codes);
    void appeared(const QString &code);

private:
    class Worker;
    QThread *m_thread;
    Worker *m_worker;
    std::shared_ptr<std::atomic_bool> m_busy;
    CodeAppearance m_appearance;
};

// The worker's side: a plain slot taking a picture, run on the scanner's
// thread.
class CameraScanner::Worker : public QObject
{
    Q_OBJECT
public:
    explicit Worker(std::shared_ptr<std::atomic_bool> busy)
        : m_busy(std::move(busy))
    {
    }
public slots:
    void scanFrame(const QImage &picture);
signals:
    void codesSeen(const QStringList &codes);

private:
    BarcodeDecoder m_decoder;
    std::shared_ptr<std::atomic_bool> m_busy;
};
