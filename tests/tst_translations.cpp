#include "TestSupport.h"

#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

const QString tsDir = QStringLiteral(QLUMAR_SOURCE_DIR "/resources/translations");

struct Message
{
    QString context;
    QString source;
    QString translation;
    QString type; // the translation's type attribute: empty when finished
};

QList<Message> readTs(const QString& path, QString* error)
{
    QList<Message> messages;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return messages;
    }
    QXmlStreamReader xml(&file);
    QString context;
    Message message;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("context")) {
                context.clear();
            } else if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("message")) {
                message = Message{context, QString(), QString(), QString()};
            } else if (xml.name() == QLatin1String("source")) {
                message.source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                message.type = xml.attributes().value(QLatin1String("type")).toString();
                message.translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            messages.append(message);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

QStringList keys(const QList<Message>& messages)
{
    QStringList result;
    for (const Message& m : messages)
        result << m.context + QLatin1String(" | ") + m.source;
    result.sort();
    return result;
}

// Every occurrence of `pattern`, sorted: what a translation must carry over from its source.
QStringList occurrences(const QString& text, const QString& pattern)
{
    QStringList found;
    QRegularExpressionMatchIterator it = QRegularExpression(pattern).globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(0);
    found.sort();
    return found;
}

} // namespace

class TestTranslations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void catalogueSource_data()
    {
        QTest::addColumn<QString>("ts");
        QTest::newRow("program") << "qlumar_vpn_pl.ts";
        QTest::newRow("misc") << "misc_pl.ts";
        QTest::newRow("netprotocols") << "netprotocols_pl.ts";
    }

    // Every message is translated, none is left unfinished or obsolete, and each translation
    // keeps what the program relies on: placeholders, link targets, accelerators, line breaks.
    void catalogueSource()
    {
        QFETCH(QString, ts);
        QString error;
        const QList<Message> messages = readTs(tsDir + QLatin1Char('/') + ts, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!messages.isEmpty());
        for (const Message& m : messages) {
            const QByteArray where = (m.context + QLatin1String(": ") + m.source).toUtf8();
            QVERIFY2(m.type.isEmpty(), (m.type.toUtf8() + " - " + where).constData());
            QVERIFY2(!m.translation.isEmpty(), where.constData());
            QVERIFY2(!m.translation.contains(QChar::ReplacementCharacter), where.constData());
            QVERIFY2(occurrences(m.translation, "%\\d") == occurrences(m.source, "%\\d"), where.constData());
            QVERIFY2(occurrences(m.translation, "href=\"[^\"]*\"") ==
                         occurrences(m.source, "href=\"[^\"]*\""),
                     where.constData());
            QVERIFY2(occurrences(m.translation, "&(?!&|\\w+;)\\S").size() ==
                         occurrences(m.source, "&(?!&|\\w+;)\\S").size(),
                     where.constData());
            QVERIFY2(m.translation.count(QLatin1Char('\n')) == m.source.count(QLatin1Char('\n')),
                     where.constData());
        }
    }

    void compiledCatalogue_data()
    {
        QTest::addColumn<QString>("ts");
        QTest::addColumn<QString>("qm");
        QTest::newRow("program") << "qlumar_vpn_pl.ts"
                                 << ":qlumar_vpn_pl.qm";
        QTest::newRow("misc") << "misc_pl.ts"
                              << ":translations/misc_pl.qm";
        QTest::newRow("netprotocols") << "netprotocols_pl.ts"
                                      << ":translations/netprotocols_pl.qm";
    }

    // The embedded catalogue is the current source, compiled.
    void compiledCatalogue()
    {
        QFETCH(QString, ts);
        QFETCH(QString, qm);
        QString error;
        const QList<Message> messages = readTs(tsDir + QLatin1Char('/') + ts, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QTranslator translator;
        QVERIFY(translator.load(qm));
        QCOMPARE(translator.language(), QStringLiteral("pl"));
        for (const Message& m : messages) {
            QCOMPARE(translator.translate(m.context.toUtf8().constData(), m.source.toUtf8().constData()),
                     m.translation);
        }
    }

    void updateCheckAsksForPolish()
    {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":qlumar_vpn_pl.qm")));
        QCOMPARE(translator.translate("MainWindow", "en"), QStringLiteral("pl"));
    }

    void toolkitCatalogueIsQtBase()
    {
        QFile embedded(QStringLiteral(":translations/qt_pl.qm"));
        QVERIFY(embedded.open(QIODevice::ReadOnly));
        const QByteArray qtbase =
            ScratchHome::readFile(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_pl.qm");
        QVERIFY(qtbase.size() > 100000);
        QVERIFY(embedded.readAll() == qtbase);

        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":translations/qt_pl.qm")));
        QCOMPARE(translator.translate("QPlatformTheme", "Cancel"), QStringLiteral("Anuluj"));
    }

    // What scripts/update-translations would change: a text added to the sources without a
    // translation, or a translated text the sources no longer have.
    void sourcesAndCataloguesAgree()
    {
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        const QStringList catalogues = {"qlumar_vpn_pl.ts", "misc_pl.ts"};
        for (const QString& ts : catalogues)
            QVERIFY(QFile::copy(tsDir + QLatin1Char('/') + ts, scratch.filePath(ts)));

        QProcess lupdate;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LUPDATE"), QStringLiteral(QLUMAR_LUPDATE));
        lupdate.setProcessEnvironment(env);
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral("bash"),
                      {QStringLiteral(QLUMAR_SOURCE_DIR "/scripts/update-translations"), scratch.path()});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
                 lupdate.readAll().constData());

        for (const QString& ts : catalogues) {
            QString error;
            const QList<Message> before = readTs(tsDir + QLatin1Char('/') + ts, &error);
            const QList<Message> after = readTs(scratch.filePath(ts), &error);
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QStringList untranslated;
            for (const Message& m : after) {
                if (!m.type.isEmpty() || m.translation.isEmpty())
                    untranslated << m.context + QLatin1String(" | ") + m.source;
            }
            QVERIFY2(untranslated.isEmpty(),
                     qPrintable(ts + QLatin1String(" lacks: ") + untranslated.join(QLatin1String("; "))));
            QCOMPARE(keys(after), keys(before));
        }
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
