#include "Pictures.h"

#include <QEvent>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QtMath>

#include <utility>

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

// Every picture comes from the wrapped icon; only the name is added.
class NamedIconEngine : public QIconEngine
{
public:
    NamedIconEngine(QString name, QIcon pictures) : m_name(std::move(name)), m_pictures(std::move(pictures))
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        m_pictures.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_pictures.actualSize(size, mode, state);
    }
    // Sizes here are device pixels: ratio 1 keeps the wrapped icon from scaling them again.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_pictures.pixmap(size, 1.0, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        Q_UNUSED(scale);
        return m_pictures.pixmap(size, 1.0, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_pictures.availableSizes(mode, state);
    }
    QString iconName() override { return m_name; }
    bool isNull() override { return m_pictures.isNull(); }
    QString key() const override { return QStringLiteral("qlumarNamed"); }
    QIconEngine* clone() const override { return new NamedIconEngine(m_name, m_pictures); }

private:
    QString m_name;
    QIcon m_pictures;
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

QPixmap pixmap(const QString& path, qreal devicePixelRatio)
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

QIcon themedIcon(const QString& themeName, const QString& path)
{
    // Shared like icon(): a tray that compares cache keys sees one icon per state.
    static auto* icons = new QHash<QString, QIcon>;
    const QString key = themeName + QLatin1Char('\n') + path;
    auto it = icons->find(key);
    if (it != icons->end())
        return *it;
    return *icons->insert(key, QIcon(new NamedIconEngine(themeName, icon(path))));
}

void setLabelPicture(QLabel* label, const QString& path)
{
    if (!label->property(pathProperty).isValid())
        label->installEventFilter(new RatioFollower(label));
    label->setProperty(pathProperty, path);
    label->setPixmap(pixmap(path, label->devicePixelRatioF()));
}

} // namespace Pictures
