#include "app/Pictures.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QStyle>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // First, before anything here reads a picture the toolkit's way: a group box is drawn without
    // loading an image format plugin (each is a few libraries linked before the first window).
    void groupBoxFrameLoadsNoFormatPlugin()
    {
        QFile maps(QStringLiteral("/proc/self/maps"));
        if (!maps.exists())
            QSKIP("no /proc/self/maps to tell loaded libraries");
        if (QApplication::style()->name() != QLatin1String("fusion"))
            QSKIP("the frame picture is the Fusion style's");
        Pictures::seedStylePictures();
        QGroupBox box(QStringLiteral("Available VPN connections"));
        box.resize(240, 120);
        box.grab();
        QVERIFY(maps.open(QIODevice::ReadOnly));
        QVERIFY(!maps.readAll().contains("/imageformats/"));
    }

    void picturesLoadAtTheirSize_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        for (const char* name : {"vpn", "vpn_con", "vpn_dis", "cancel", "info", "exit", "update",
                                 "qlumar_velkoro", "vpn_set_01", "vpn_set_02", "vpn_set_03", "vpn_set_04"})
            QTest::newRow(name) << QStringLiteral(":img/%1.png").arg(QLatin1String(name)) << QSize(32, 32);
        QTest::newRow("qlumar_logo") << QStringLiteral(":img/qlumar_logo.png") << QSize(96, 48);
        for (int i = 1; i <= 7; ++i)
            QTest::newRow(qPrintable(QStringLiteral("connect_0%1").arg(i)))
                << QStringLiteral(":img/connect_0%1.png").arg(i) << QSize(192, 48);
        QTest::newRow("about") << QStringLiteral(":img/qlumar_about_velkoro_384.png") << QSize(384, 166);
    }

    void picturesLoadAtTheirSize()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(image.size(), size);
        QVERIFY(image.hasAlphaChannel());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(26);
        QVERIFY(head.startsWith("\x89PNG"));
        QCOMPARE(int(quint8(head.at(24))), 8); // bit depth
        QCOMPARE(int(quint8(head.at(25))), 6); // colour type RGBA
    }

    // The HiDPI renditions beside each picture: the same format at exactly two and three times the
    // size, rendered from the source rather than pixel-doubled from the 1x file.
    void renditionsBesideEachPicture_data() { picturesLoadAtTheirSize_data(); }

    void renditionsBesideEachPicture()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        const QImage base = QImage(path).convertToFormat(QImage::Format_ARGB32);
        for (int scale : {2, 3}) {
            QString file = path;
            file.insert(file.lastIndexOf('.'), QStringLiteral("@%1x").arg(scale));
            const QImage image(file);
            QVERIFY2(!image.isNull(), qPrintable(file));
            QCOMPARE(image.size(), size * scale);
            QCOMPARE(image.devicePixelRatio(), qreal(scale)); // what the @Nx name tells every loader
            QVERIFY(image.hasAlphaChannel());
            QFile bytes(file);
            QVERIFY(bytes.open(QIODevice::ReadOnly));
            const QByteArray head = bytes.read(26);
            QCOMPARE(int(quint8(head.at(24))), 8);
            QCOMPARE(int(quint8(head.at(25))), 6);
            const QImage doubled = base.scaled(size * scale, Qt::IgnoreAspectRatio, Qt::FastTransformation);
            QVERIFY2(image.convertToFormat(QImage::Format_ARGB32) != doubled, qPrintable(file));
        }
    }

    void animationFramesDiffer()
    {
        for (const QString& pattern :
             {QStringLiteral(":img/vpn_set_%1.png"), QStringLiteral(":img/connect_%1.png")}) {
            const int count = pattern.contains("vpn_set") ? 4 : 7;
            for (int i = 1; i < count; ++i)
                QVERIFY2(QImage(pattern.arg(i, 2, 10, QLatin1Char('0'))) !=
                             QImage(pattern.arg(i + 1, 2, 10, QLatin1Char('0'))),
                         qPrintable(pattern.arg(i)));
        }
    }

    void licenceIsTheGplAsHtml()
    {
        QFile file(QStringLiteral(":LICENSE"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray html = file.readAll();
        QVERIFY(html.contains("<html"));
        QVERIFY(html.contains("GNU GENERAL PUBLIC LICENSE"));
        QVERIFY(html.contains("Version 3, 29 June 2007"));
        QVERIFY(html.contains("END OF TERMS AND CONDITIONS"));
    }

    void missingResourceIsBlankNotAnError()
    {
        QVERIFY(QImage(QStringLiteral(":img/no_such_picture.png")).isNull());
        QFile file(QStringLiteral(":img/no_such_picture.png"));
        QVERIFY(!file.open(QIODevice::ReadOnly));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
