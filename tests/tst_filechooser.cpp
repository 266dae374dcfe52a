#include "GuiTestBase.h"
#include "TestSupport.h"

#include "app/Prompt.h"
#include "dialogs/FileChooser.h"

#include <QtTest>

namespace {

// One call of the helper: the start directory passed in and the user's answer (empty = cancel).
struct Call
{
    QString startDir;
    QString answer;
};

} // namespace

Q_DECLARE_METATYPE(QList<Call>)

class TestFileChooser : public GuiTestBase
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        GuiTestBase::init();
        FileChooser::resetRememberedDirectory();
    }

    void startDirectory_data()
    {
        QTest::addColumn<QList<Call>>("calls");
        // "~" in an expectation stands for the scratch home directory.
        QTest::addColumn<QStringList>("expectedStarts");
        QTest::addColumn<QString>("expectedRemembered");

        QTest::newRow("first dialog of the run opens in home")
            << QList<Call>{{{}, {}}} << QStringList{"~"} << "~";
        QTest::newRow("chosen file's parent is remembered")
            << QList<Call>{{{}, "/a/b/c.cert"}, {{}, {}}} << QStringList{"~", "/a/b"} << "/a/b";
        QTest::newRow("cancel keeps the remembered directory")
            << QList<Call>{{{}, "/a/b/c.cert"}, {{}, {}}, {{}, {}}} << QStringList{"~", "/a/b", "/a/b"}
            << "/a/b";
        QTest::newRow("start directory moves it even on cancel")
            << QList<Call>{{"/x/y", {}}, {{}, {}}} << QStringList{"/x/y", "/x/y"} << "/x/y";
        QTest::newRow("a chosen file beats the start directory")
            << QList<Call>{{"/x/y", "/p/q/r.p12"}, {{}, {}}} << QStringList{"/x/y", "/p/q"} << "/p/q";
        QTest::newRow("file in the root directory")
            << QList<Call>{{{}, "/top.key"}, {{}, {}}} << QStringList{"~", "/"} << "/";
    }

    void startDirectory()
    {
        QFETCH(QList<Call>, calls);
        QFETCH(QStringList, expectedStarts);
        QFETCH(QString, expectedRemembered);
        const auto expand = [&](QString dir) { return dir == "~" ? QDir::homePath() : dir; };
        QCOMPARE(QDir::homePath(), home()->path());
        QVERIFY(FileChooser::rememberedDirectory().isEmpty());

        for (const Call& call : calls) {
            if (call.answer.isEmpty())
                Prompt::answerCancel();
            else
                Prompt::answerFile(call.answer);
            QCOMPARE(FileChooser::openFileName(nullptr, "caption", call.startDir, "filter"), call.answer);
        }
        QCOMPARE(Prompt::history().size(), calls.size());
        for (int i = 0; i < calls.size(); ++i)
            QCOMPARE(Prompt::history().at(i).directory, expand(expectedStarts.at(i)));
        QCOMPARE(FileChooser::rememberedDirectory(), expand(expectedRemembered));
    }

    void homeIsTakenAtFirstUseOnly()
    {
        auto first = std::make_unique<ScratchHome>();
        const QString firstHome = first->path();
        FileChooser::openFileName();
        first.reset();
        ScratchHome second;
        FileChooser::openFileName();
        QCOMPARE(Prompt::history().at(1).directory, firstHome);
        FileChooser::resetRememberedDirectory();
        FileChooser::openFileName();
        QCOMPARE(Prompt::history().at(2).directory, second.path());
    }

    void passesCaptionFilterAndParent()
    {
        QWidget parent;
        Prompt::answerFile("/d/e.cert");
        FileChooser::openFileName(&parent, "Select certificate file", QString(),
                                  "Certificate files (*.cert);;All files (*)");
        const Prompt::Shown& shown = Prompt::history().constLast();
        QCOMPARE(shown.kind, Prompt::Kind::OpenFile);
        QCOMPARE(shown.title, QString("Select certificate file"));
        QCOMPARE(shown.filter, QString("Certificate files (*.cert);;All files (*)"));
        QCOMPARE(shown.parent, &parent);
    }
};

QTEST_MAIN(TestFileChooser)
#include "tst_filechooser.moc"
