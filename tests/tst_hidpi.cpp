#include "TestSupport.h"

#include "about/AboutBox.h"
#include "app/MainWindow.h"
#include "app/Pictures.h"
#include "app/Prompt.h"
#include "dialogs/VpnNewWindow.h"
#include "profiles/VpnItem.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QtTest>

// The whole program at a scale factor of 2, as on a HiDPI screen: every picture must come from
// the renditions made for that scale, not from the 1x file scaled up.
namespace {

QImage argb(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

// As a pixmap holds it: premultiplied, which rounds semi-transparent pixels.
QImage asPixmap(const QString& file)
{
    return argb(QPixmap::fromImage(QImage(file)).toImage());
}

QImage rendition(const QString& path, int scale)
{
    QString file = path;
    file.insert(file.lastIndexOf('.'), QStringLiteral("@%1x").arg(scale));
    return asPixmap(file);
}

QImage iconAt(const QIcon& icon, const QSize& size, qreal ratio)
{
    return argb(icon.pixmap(size, ratio).toImage());
}

} // namespace

class TestHiDpi : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchHome> m_home;

    void verifySharp(const QPixmap& pixmap, const QString& path, const QSize& size)
    {
        QCOMPARE(pixmap.devicePixelRatio(), 2.0);
        QCOMPARE(pixmap.size(), size * 2);
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), size);
        QCOMPARE(argb(pixmap.toImage()), rendition(path, 2));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        qputenv("QLUMAR_UPDATE_URL", "http://127.0.0.1:9/updates.info");
        Prompt::setTestMode(true);
    }

    void init()
    {
        Prompt::reset();
        m_home = std::make_unique<ScratchHome>();
        QVERIFY(m_home->enterRoot());
    }

    void cleanup() { m_home.reset(); }

    void windowPicturesAreDrawnAtTwiceTheSize()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.devicePixelRatioF(), 2.0);
        auto* picture = window.findChild<QLabel*>(QStringLiteral("connectionLabel"));
        auto* logo = window.findChild<QLabel*>(QStringLiteral("logoLabel"));
        verifySharp(picture->pixmap(), QStringLiteral(":img/connect_01.png"), QSize(192, 48));
        verifySharp(logo->pixmap(), QStringLiteral(":img/qlumar_logo.png"), QSize(96, 48));
        // The layout still sees the 1x sizes.
        QCOMPARE(picture->sizeHint().height() >= 48, true);
        QVERIFY(logo->sizeHint().width() < 150);

        // Every animation frame and both end states.
        window.setTrayIcon(TrayConnecting);
        for (int tick = 1; tick < TrayAnimation::labelFrameCount; tick += 2) {
            window.trayIconSetConnectionUpdate();
            window.trayIconSetConnectionUpdate();
            verifySharp(picture->pixmap(), TrayAnimation::pictureFrameImage(window.pictureAnimationFrame()),
                        QSize(192, 48));
            QCOMPARE(iconAt(window.tray()->icon(), QSize(32, 32), 2.0),
                     rendition(TrayAnimation::trayFrameImage(window.trayAnimationFrame()), 2));
        }
        window.setTrayIcon(TrayConnected);
        verifySharp(picture->pixmap(), QStringLiteral(":img/connect_07.png"), QSize(192, 48));
        QCOMPARE(iconAt(window.tray()->icon(), QSize(32, 32), 2.0), rendition(":img/vpn_con.png", 2));
        window.setTrayIcon(TrayDisconnected);
        QCOMPARE(iconAt(window.tray()->icon(), QSize(32, 32), 2.0), rendition(":img/vpn_dis.png", 2));
        QCOMPARE(iconAt(window.tray()->icon(), QSize(32, 32), 3.0), rendition(":img/vpn_dis.png", 3));

        QCOMPARE(iconAt(window.windowIcon(), QSize(32, 32), 2.0), rendition(":img/qlumar_velkoro.png", 2));
        for (const auto& [name, path] : {std::pair{"connectAction", ":img/vpn_con.png"},
                                         {"disconnectAction", ":img/cancel.png"},
                                         {"aboutAction", ":img/info.png"},
                                         {"exitAction", ":img/exit.png"},
                                         {"updateAction", ":img/update.png"}}) {
            auto* action = window.findChild<QAction*>(QLatin1String(name));
            QVERIFY2(action, name);
            QCOMPARE(iconAt(action->icon(), QSize(32, 32), 2.0), rendition(QLatin1String(path), 2));
        }

        AboutBox* about = window.aboutDialog();
        QVERIFY(about);
        for (const char* name : {"aboutPicture", "helpPicture", "thanksPicture", "updatePicture"}) {
            auto* banner = about->findChild<QLabel*>(QLatin1String(name));
            QVERIFY2(banner, name);
            verifySharp(banner->pixmap(), QStringLiteral(":img/qlumar_about_velkoro_384.png"),
                        QSize(384, 166));
        }
    }

    // A window moved to a screen with another scale gets the pictures for that scale.
    void labelPictureFollowsTheScreen()
    {
        QLabel label;
        Pictures::setLabelPicture(&label, QStringLiteral(":img/qlumar_logo.png"));
        verifySharp(label.pixmap(), QStringLiteral(":img/qlumar_logo.png"), QSize(96, 48));
        label.setPixmap(Pictures::pixmap(QStringLiteral(":img/qlumar_logo.png"), 1.0)); // the old screen's
        QEvent moved(QEvent::ScreenChangeInternal);
        QCoreApplication::sendEvent(&label, &moved);
        verifySharp(label.pixmap(), QStringLiteral(":img/qlumar_logo.png"), QSize(96, 48));
    }

    void listAndDialogIconsHaveTheirRenditions()
    {
        VpnItem item(m_home->rootPath() + "/0000/conf", "0000");
        QCOMPARE(iconAt(item.icon(), QSize(32, 32), 2.0), rendition(":img/vpn.png", 2));
        QCOMPARE(iconAt(VpnItem::connectedIcon(), QSize(32, 32), 3.0), rendition(":img/vpn_con.png", 3));
        VpnNewWindow dialog;
        QCOMPARE(iconAt(dialog.windowIcon(), QSize(32, 32), 2.0), rendition(":img/vpn.png", 2));
    }

    // Scale factors 1, 1.5, 2 and 3: the picture keeps its 1x size on screen and has one device
    // pixel per physical pixel, taken from the nearest larger rendition.
    void picturesAtEveryScale_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QString>("source");
        QTest::newRow("1") << 1.0 << QStringLiteral(":img/connect_03.png");
        QTest::newRow("1.25") << 1.25 << QStringLiteral(":img/connect_03@2x.png");
        QTest::newRow("1.5") << 1.5 << QStringLiteral(":img/connect_03@2x.png");
        QTest::newRow("2") << 2.0 << QStringLiteral(":img/connect_03@2x.png");
        QTest::newRow("2.5") << 2.5 << QStringLiteral(":img/connect_03@3x.png");
        QTest::newRow("3") << 3.0 << QStringLiteral(":img/connect_03@3x.png");
        QTest::newRow("4: the largest there is") << 4.0 << QStringLiteral(":img/connect_03@3x.png");
    }

    void picturesAtEveryScale()
    {
        QFETCH(qreal, ratio);
        QFETCH(QString, source);
        const QString path = QStringLiteral(":img/connect_03.png");
        QCOMPARE(Pictures::renditionPath(path, ratio), source);
        const QPixmap pixmap = Pictures::pixmap(path, ratio);
        QCOMPARE(pixmap.devicePixelRatio(), ratio);
        QCOMPARE(pixmap.size(), QSize(qRound(192 * ratio), qRound(48 * ratio)));
        QCOMPARE(pixmap.deviceIndependentSize().toSize(), QSize(192, 48));
        const QImage wanted = asPixmap(source);
        if (wanted.size() == pixmap.size())
            QCOMPARE(argb(pixmap.toImage()), wanted);
        else if (ratio < 3) // drawn down from the larger rendition, never up from a smaller one
            QVERIFY(wanted.width() > pixmap.width());

        const QIcon icon = Pictures::icon(QStringLiteral(":img/vpn.png"));
        // Icons are never drawn up: above 3 the painter scales the largest one.
        const int side = qRound(32 * qMin<qreal>(ratio, 3));
        QCOMPARE(icon.pixmap(QSize(32, 32), ratio).size(), QSize(side, side));
    }

    void missingPicturesStayEmpty()
    {
        QVERIFY(Pictures::pixmap(QStringLiteral(":img/no_such_picture.png"), 2.0).isNull());
        QVERIFY(Pictures::icon(QStringLiteral(":img/no_such_picture.png")).isNull());
        QCOMPARE(Pictures::renditionPath(QStringLiteral(":LICENSE"), 2.0), QStringLiteral(":LICENSE"));

        // Sizes come from the file's first bytes: a damaged or mislabelled file gives no picture,
        // and pictures of other formats are still read.
        QFile original(QStringLiteral(":img/vpn.png"));
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray png = original.readAll();
        const QString dir = m_home->rootPath() + QLatin1Char('/');
        const QList<std::pair<QString, QByteArray>> broken = {
            {"cut.png", png.left(23)}, {"text.png", "not a picture at all, but long enough"}};
        for (const auto& [name, bytes] : broken) {
            QFile file(dir + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
            file.close();
            QVERIFY2(Pictures::pixmap(dir + name, 1.0).isNull(), qPrintable(name));
            QVERIFY2(Pictures::icon(dir + name).isNull(), qPrintable(name));
        }
        QVERIFY(QImage(QStringLiteral(":img/vpn.png")).save(dir + "vpn.bmp", "BMP"));
        QCOMPARE(Pictures::pixmap(dir + "vpn.bmp", 1.0).size(), QSize(32, 32));
        QCOMPARE(Pictures::icon(dir + "vpn.bmp").actualSize(QSize(64, 64)), QSize(32, 32));
    }
};

int main(int argc, char** argv)
{
    // Before the application exists: the scale factor is read once, at its construction.
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestHiDpi test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
