#include "Pictures.h"

#include <QEvent>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QtMath>

namespace Pictures {

namespace {

constexpr int largestRendition = 3;
const char* const pathProperty = "qlumarPicturePath";

QString atScale(const QString& path, int scale)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    QString result = path;
    result.insert(dot < 0 ? path.size() : dot, QStringLiteral("@%1x").arg(scale));
    return result;
}

// Follows its label across screens: the picture is redrawn for the new screen's ratio.
class RatioFollower : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::ScreenChangeInternal) {
            auto* label = static_cast<QLabel*>(watched);
            const QString path = label->property(pathProperty).toString();
            if (!qFuzzyCompare(label->pixmap().devicePixelRatio(), label->devicePixelRatioF()))
                label->setPixmap(pixmap(path, label->devicePixelRatioF()));
        }
        return false;
    }
};

} // namespace

QString renditionPath(const QString& path, qreal devicePixelRatio)
{
    if (devicePixelRatio <= 1.0)
        return path;
    const int wanted = qMin(qCeil(devicePixelRatio - 0.001), largestRendition);
    for (int scale = wanted; scale <= largestRendition; ++scale)
        if (QFile::exists(atScale(path, scale)))
            return atScale(path, scale);
    for (int scale = wanted - 1; scale >= 2; --scale)
        if (QFile::exists(atScale(path, scale)))
            return atScale(path, scale);
    return path;
}

namespace {

QPixmap decodePixmap(const QString& path, qreal devicePixelRatio)
{
    const QSize size = QImageReader(path).size();
    if (!size.isValid())
        return QPixmap();
    const qreal ratio = qMax<qreal>(devicePixelRatio, 1.0);
    QImage image(renditionPath(path, ratio));
    if (image.isNull())
        return QPixmap();
    const QSize devicePixels(qRound(size.width() * ratio), qRound(size.height() * ratio));
    // Fractional ratios (1.25, 1.5) are drawn down from the next larger rendition here, once and
    // smoothly, rather than by the painter on every paint.
    if (image.size() != devicePixels)
        image = image.scaled(devicePixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(image);
}

} // namespace

QPixmap pixmap(const QString& path, qreal devicePixelRatio)
{
    // Decoded once per picture and ratio: the connecting animation shows the same few pictures
    // five times a second for as long as it runs. Never destroyed, like the icons below.
    static auto* pixmaps = new QHash<QPair<QString, qreal>, QPixmap>;
    const QPair<QString, qreal> key(path, qMax<qreal>(devicePixelRatio, 1.0));
    auto it = pixmaps->find(key);
    if (it != pixmaps->end())
        return *it;
    return *pixmaps->insert(key, decodePixmap(path, devicePixelRatio));
}

QIcon icon(const QString& path)
{
    // Never destroyed: a pixmap must not outlive the application object.
    static auto* icons = new QHash<QString, QIcon>;
    auto it = icons->find(path);
    if (it != icons->end())
        return *it;
    QIcon result;
    const QImage base(path);
    if (!base.isNull()) {
        result.addPixmap(QPixmap::fromImage(base));
        for (int scale = 2; scale <= largestRendition; ++scale) {
            QImage larger(atScale(path, scale));
            if (larger.isNull())
                continue;
            larger.setDevicePixelRatio(1.0); // an entry of its own size, picked by device pixels
            result.addPixmap(QPixmap::fromImage(larger));
        }
    }
    return *icons->insert(path, result);
}

void setLabelPicture(QLabel* label, const QString& path)
{
    if (!label->property(pathProperty).isValid())
        label->installEventFilter(new RatioFollower(label));
    label->setProperty(pathProperty, path);
    label->setPixmap(pixmap(path, label->devicePixelRatioF()));
}

} // namespace Pictures
