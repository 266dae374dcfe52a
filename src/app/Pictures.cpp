#include "Pictures.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QtMath>

#include <memory>
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

// The renditions of one picture, each decoded the first time it is drawn: most icons of the
// program are never drawn in a run, and most of those that are, at one scale only. Picks and
// scales as the toolkit's own pixmap icons do: the smallest rendition at least as large as asked,
// else the largest, drawn down to fit; other modes than Normal as the style generates them.
class RenditionIconEngine : public QIconEngine
{
public:
    explicit RenditionIconEngine(const QString& path)
    {
        for (int scale = 1; scale <= largestRendition; ++scale) {
            const QString file = scale == 1 ? path : atScale(path, scale);
            const QSize size = QImageReader(file).size();
            if (size.isValid())
                m_renditions->append({file, size, QPixmap()});
        }
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device()->devicePixelRatio();
        painter->drawPixmap(rect, pixmap(rect.size() * ratio, mode, state));
    }

    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        Q_UNUSED(mode);
        Q_UNUSED(state);
        const Rendition* rendition = best(size);
        if (!rendition)
            return QSize();
        QSize actual = rendition->size;
        if (actual.width() > size.width() || actual.height() > size.height())
            actual.scale(size, Qt::KeepAspectRatio);
        return actual;
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        Rendition* rendition = best(size);
        if (!rendition)
            return QPixmap();
        if (rendition->pixmap.isNull())
            rendition->pixmap = QPixmap::fromImage(QImage(rendition->path));
        const QSize actual = actualSize(size, mode, state);
        const auto key = std::make_pair(actual, static_cast<int>(mode));
        for (const auto& [made, picture] : m_made)
            if (made == key)
                return picture;
        QPixmap result = rendition->pixmap;
        if (result.size() != actual)
            result = result.scaled(actual, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (mode != QIcon::Normal && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            QStyleOption option;
            option.palette = QApplication::palette();
            const QPixmap generated = QApplication::style()->generatedIconPixmap(mode, result, &option);
            if (!generated.isNull())
                result = generated;
        }
        m_made.append({key, result});
        return result;
    }

    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off)
            for (const Rendition& rendition : std::as_const(*m_renditions))
                sizes << rendition.size;
        return sizes;
    }

    QString key() const override { return QStringLiteral("qlumar-renditions"); }
    QIconEngine* clone() const override { return new RenditionIconEngine(*this); }
    bool isNull() override { return m_renditions->isEmpty(); }

private:
    struct Rendition
    {
        QString path;
        QSize size;
        QPixmap pixmap; // null until first drawn
    };

    Rendition* best(const QSize& size)
    {
        Rendition* found = nullptr;
        for (Rendition& rendition : *m_renditions) {
            const bool fits =
                rendition.size.width() >= size.width() && rendition.size.height() >= size.height();
            if (fits)
                return &rendition; // ordered from the smallest
            found = &rendition;
        }
        return found;
    }

    // Shared with clones, so a picture decoded for one copy of the icon serves them all.
    std::shared_ptr<QList<Rendition>> m_renditions = std::make_shared<QList<Rendition>>();
    QList<std::pair<std::pair<QSize, int>, QPixmap>> m_made; // drawn sizes and modes, a handful
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
    auto* engine = new RenditionIconEngine(path);
    QIcon result;
    if (engine->isNull())
        delete engine;
    else
        result = QIcon(engine);
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
