#include "Pictures.h"

#include <QApplication>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>
#include <QtMath>

#include <memory>
#include <utility>

namespace Pictures {

namespace {

constexpr int largestRendition = 3;
const char* const pathProperty = "qlumarPicturePath";

// The toolkit's reader, asked for a picture without a format, loads and asks every image format
// plugin on the system before its own PNG decoder, though the program has PNG pictures only: that
// is a few libraries loaded and linked before the first window shows. Told the format, it goes
// straight to the decoder.
void setFormatFromName(QImageReader& reader)
{
    const QString path = reader.fileName();
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= path.lastIndexOf(QLatin1Char('/')))
        return;
    reader.setFormat(path.mid(dot + 1).toLower().toLatin1());
    reader.setAutoDetectImageFormat(false);
}

QImage readImage(const QString& path)
{
    QImageReader reader(path);
    setFormatFromName(reader);
    return reader.read();
}

// A PNG tells its size in the first bytes of the file: reading those is all an icon needs until it
// is drawn.
QSize pictureSize(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QSize();
    const QByteArray head = file.read(24);
    static const char signature[] = "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR";
    if (head.size() == 24 && head.startsWith(QByteArray::fromRawData(signature, sizeof signature - 1))) {
        const auto be32 = [&head](int at) {
            quint32 value = 0;
            for (int i = at; i < at + 4; ++i)
                value = (value << 8) | static_cast<uchar>(head.at(i));
            return value;
        };
        const quint32 width = be32(16);
        const quint32 height = be32(20);
        if (width > 0 && height > 0 && width <= 0x7fffffff && height <= 0x7fffffff)
            return QSize(static_cast<int>(width), static_cast<int>(height));
        return QSize();
    }
    file.close();
    QImageReader reader(path);
    setFormatFromName(reader);
    return reader.size();
}

QString atScale(const QString& path, int scale)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    QString result = path;
    result.insert(dot < 0 ? path.size() : dot, QStringLiteral("@%1x").arg(scale));
    return result;
}

// The key QPixmap::load() files a picture under: its path, then its time and size and the kind of
// pixmap (a plain one, 0), each as the bytes of the number in memory order, low half-byte first.
QString loaderCacheKey(const QFileInfo& info)
{
    QString key = QStringLiteral("qt_pixmap") + info.absoluteFilePath();
    const auto append = [&key](auto value) {
        const char digits[] = "0123456789abcdef";
        const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
        for (size_t i = 0; i < sizeof value; ++i) {
            key += QLatin1Char(digits[bytes[i] & 0xf]);
            key += QLatin1Char(digits[bytes[i] >> 4]);
        }
    };
    append(static_cast<uint>(info.lastModified().toSecsSinceEpoch()));
    append(static_cast<quint64>(info.size()));
    append(static_cast<uint>(0));
    return key;
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
// program are never drawn in a run, and most of those that are, at one scale only. Which
// renditions there are and their sizes are read the first time anyone asks, too: reading them for
// every icon at start-up touched the whole of the program's pictures. Picks and scales as the
// toolkit's own pixmap icons do: the smallest rendition at least as large as asked, else the
// largest, drawn down to fit; other modes than Normal as the style generates them.
class RenditionIconEngine : public QIconEngine
{
public:
    explicit RenditionIconEngine(const QString& path) { m_renditions->path = path; }

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
            rendition->pixmap = QPixmap::fromImage(readImage(rendition->path));
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
            for (const Rendition& rendition : std::as_const(renditions()))
                sizes << rendition.size;
        return sizes;
    }

    QString key() const override { return QStringLiteral("qlumar-renditions"); }
    QIconEngine* clone() const override { return new RenditionIconEngine(*this); }
    bool isNull() override { return renditions().isEmpty(); }

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
        for (Rendition& rendition : renditions()) {
            const bool fits =
                rendition.size.width() >= size.width() && rendition.size.height() >= size.height();
            if (fits)
                return &rendition; // ordered from the smallest
            found = &rendition;
        }
        return found;
    }

    struct Renditions
    {
        QString path; // the 1x one
        bool listed = false;
        QList<Rendition> list; // from the smallest
    };

    QList<Rendition>& renditions()
    {
        if (!m_renditions->listed) {
            m_renditions->listed = true;
            // Only the 1x picture is opened: an @Nx rendition is N times its size by the naming
            // rule, and whether it exists is a look-up in the resource tree, so the larger
            // renditions' bytes are never touched on a screen that does not draw them.
            const QString& path = m_renditions->path;
            const QSize size = pictureSize(path);
            if (size.isValid()) {
                m_renditions->list.append({path, size, QPixmap()});
                for (int scale = 2; scale <= largestRendition; ++scale) {
                    const QString file = atScale(path, scale);
                    if (QFile::exists(file))
                        m_renditions->list.append({file, size * scale, QPixmap()});
                }
            }
        }
        return m_renditions->list;
    }

    // Shared with clones, so a picture decoded for one copy of the icon serves them all.
    std::shared_ptr<Renditions> m_renditions = std::make_shared<Renditions>();
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
    const QSize size = pictureSize(path);
    if (!size.isValid())
        return QPixmap();
    const qreal ratio = qMax<qreal>(devicePixelRatio, 1.0);
    QImage image = readImage(renditionPath(path, ratio));
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
    // A missing picture gives an icon that isNull(), found so when first asked.
    return *icons->insert(path, QIcon(new RenditionIconEngine(path)));
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

void seedStylePictures()
{
    // The Fusion style draws every group box frame from this picture, loaded by name, and the
    // toolkit's loader then asks each image format plugin on the system whether it reads the file,
    // the format named or not: a few libraries loaded before the first window shows. Read here as
    // ours are, it waits in the pixmap cache under the key that loader looks up first. Another
    // style, a picture that moved or a cache emptied meanwhile costs only the old way.
    const QString path = QStringLiteral(":/qt-project.org/styles/commonstyle/images/fusion_groupbox.png");
    const QFileInfo info(path);
    if (!info.exists())
        return;
    const QImage image = readImage(path);
    if (!image.isNull())
        QPixmapCache::insert(loaderCacheKey(info), QPixmap::fromImage(image));
}

} // namespace Pictures
