#include "TestSupport.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"
#include "dialogs/FileChooser.h"
#include "dialogs/VpnEditWindow.h"
#include "dialogs/VpnInfoWindow.h"
#include "dialogs/VpnNewWindow.h"
#include "dialogs/VpnPKCS12EditWindow.h"
#include "dialogs/VpnPKCS12NewWindow.h"
#include "profiles/VpnItem.h"

#include <QAccessible>
#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

using Texts = QMap<QString, QString>;

const QByteArray marker = "\n#\n# configuration template\n#\n\n";
const QByteArray caBytes = "-----BEGIN CERTIFICATE-----\nCA\r\n-----END CERTIFICATE-----\n";
const char userRaw[] = "-----BEGIN CERTIFICATE-----\nUSER\0\xff\n"; // not text: a NUL and a stray byte
const QByteArray userBytes = QByteArray(userRaw, sizeof(userRaw) - 1);
const QByteArray templateBytes = "verb 4\r\nmute 10\n# no final line feed";

QByteArray certConf(const QByteArray& name, const QByteArray& host, const QByteArray& port,
                    const QByteArray& key)
{
    return "#\n# qLumarVpnName " + name + "\n#\nremote " + host + "\nrport " + port +
           "\nca ca\ncert user\nkey \"" + key + "\"\n";
}

QByteArray pkcs12Conf(const QByteArray& name, const QByteArray& host, const QByteArray& port,
                      const QByteArray& file)
{
    return "#\n# qLumarVpnName " + name + "\n#\nremote " + host + "\nrport " + port + "\npkcs12 " + file +
           "\n";
}

// Tags every text with the context it was looked up in, so a test sees which context a dialog used.
class ContextTagger : public QTranslator
{
public:
    QString translate(const char* context, const char* source, const char*, int) const override
    {
        return QStringLiteral("[%1]%2").arg(QLatin1String(context), QString::fromUtf8(source));
    }
    bool isEmpty() const override { return false; }
};

template <class T> T* child(QWidget* parent, const QString& name)
{
    T* widget = parent->findChild<T*>(name);
    if (!widget)
        qWarning("no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return widget;
}

QLineEdit* edit(QWidget* dialog, const QString& name)
{
    return child<QLineEdit>(dialog, name);
}

void type(QWidget* dialog, const QString& field, const QString& text)
{
    QLineEdit* e = edit(dialog, field);
    QVERIFY(e);
    e->selectAll();
    if (text.isEmpty())
        QTest::keyClick(e, Qt::Key_Delete);
    // keyClicks knows ASCII only; other characters arrive as a key event carrying just the text.
    for (QChar ch : text) {
        if (ch.unicode() < 128)
            QTest::keyClick(e, char(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, e, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
    QCOMPARE(e->text(), text);
}

void click(QWidget* dialog, const QString& button)
{
    QPushButton* b = child<QPushButton>(dialog, button);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);
}

// Presses a Select button with the file dialog answered by `path` (empty: the user cancels).
void select(QWidget* dialog, const QString& button, const QString& path)
{
    if (path.isEmpty())
        Prompt::answerCancel();
    else
        Prompt::answerFile(path);
    click(dialog, button);
}

// Every file under a directory, by relative path, with its bytes.
QMap<QString, QByteArray> tree(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), ScratchHome::readFile(path));
    }
    return files;
}

QStringList subdirectories(const QString& root)
{
    return QDir(root).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// The grid a widget sits in and its cell there.
struct Cell
{
    QString widget;
    int row, column, rowSpan, columnSpan;
};

struct Stretch
{
    QString layoutOwner; // "" is the dialog itself
    QList<int> rows;     // factor per row, missing rows 0
    QList<int> columns;
};

struct Layout
{
    QMap<QString, QList<Cell>> cells; // by the owner of the grid ("" is the dialog)
    QList<Stretch> stretches;
    QMap<QString, QString> texts; // objectName (or "" for the window title) -> text
};

Layout wizardLayout(bool pkcs12)
{
    Layout l;
    l.cells[""] = {{"contentWidget", 0, 0, 1, 3}, {"saveButton", 1, 1, 1, 1}, {"cancelButton", 1, 2, 1, 1}};
    l.cells["contentWidget"] = {{"nameGroup", 0, 0, 1, 1},
                                {"serverGroup", 1, 0, 1, 1},
                                {pkcs12 ? "pkcs12Group" : "certGroup", 2, 0, 1, 1}};
    l.cells["nameGroup"] = {{"nameLabel", 0, 0, 1, 1},
                            {"nameEdit", 0, 1, 1, 3},
                            {"templateLabel", 2, 0, 1, 1},
                            {"templateEdit", 2, 1, 1, 3},
                            {"templateButton", 3, 3, 1, 1}};
    l.cells["serverGroup"] = {{"serverLabel", 0, 0, 1, 1}, {"serverEdit", 0, 1, 1, 1}};
    l.stretches = {{"", {1, 0}, {1, 0, 0}},
                   {"contentWidget", {0, 0, 0, 1}, {0}},
                   {"nameGroup", {0, 0, 0, 0}, {0, 1, 0, 0}},
                   {"serverGroup", {0}, {0, 1}}};
    l.texts = {{"", "New connection wizard"},
               {"saveButton", "&Save"},
               {"cancelButton", "Can&cel"},
               {"nameGroup", "VPN conncetion name"},
               {"nameLabel", "Connection name<sup>*</sup>"},
               {"templateLabel", "Connection template file"},
               {"templateButton", "Select"},
               {"serverGroup", "VPN server"},
               {"serverLabel", "VPN server name or IP address<sup>*</sup>"}};
    return l;
}

void addCertGroup(Layout* l)
{
    l->cells["certGroup"] = {{"caLabel", 0, 0, 1, 1},   {"caEdit", 0, 1, 1, 3},   {"caButton", 1, 3, 1, 1},
                             {"userLabel", 2, 0, 1, 1}, {"userEdit", 2, 1, 1, 3}, {"userButton", 3, 3, 1, 1},
                             {"keyLabel", 4, 0, 1, 1},  {"keyEdit", 4, 1, 1, 3},  {"keyButton", 5, 3, 1, 1}};
    l->stretches.append({"certGroup", {0, 0, 0, 0, 0, 0}, {0, 1, 0, 0}});
    l->texts.insert({{"certGroup", "Certificates and key"},
                     {"caLabel", "CA certificate<sup>*</sup>"},
                     {"caButton", "Select"},
                     {"userLabel", "User certificate<sup>*</sup>"},
                     {"userButton", "Select"},
                     {"keyLabel", "Key name<sup>*</sup>"},
                     {"keyButton", "Select"}});
}

void addPkcs12Group(Layout* l)
{
    l->cells["pkcs12Group"] = {
        {"pkcs12Label", 0, 0, 1, 1}, {"pkcs12Edit", 0, 1, 1, 3}, {"pkcs12Button", 1, 3, 1, 1}};
    l->stretches.append({"pkcs12Group", {0, 0}, {0, 1, 0, 0}});
    l->texts.insert({{"pkcs12Group", "PKCS#12 certificate"},
                     {"pkcs12Label", "PKCS#12 certificate file<sup>*</sup>"},
                     {"pkcs12Button", "Select"}});
}

// The edit dialogs: the wizard's window pattern without the template row and with a narrow name field.
Layout editLayout(bool pkcs12)
{
    Layout l = wizardLayout(pkcs12);
    l.cells["nameGroup"] = {{"nameLabel", 0, 0, 1, 1}, {"nameEdit", 0, 1, 1, 1}};
    l.stretches[2] = {"nameGroup", {0}, {0, 1}};
    l.texts.remove("templateLabel");
    l.texts.remove("templateButton");
    l.texts[""] = "Connection setup";
    l.texts["cancelButton"] = "Ca&ncel";
    return l;
}

Layout infoLayout(bool pkcs12)
{
    Layout l;
    const QString group = pkcs12 ? "pkcs12Group" : "certGroup";
    l.cells[""] = {{"nameGroup", 0, 0, 1, 3},
                   {"serverGroup", 1, 0, 1, 3},
                   {group, 2, 0, 1, 3},
                   {"closeButton", 5, 2, 1, 1}};
    l.cells["nameGroup"] = {{"nameCaption", 0, 0, 1, 1}, {"nameValue", 0, 1, 1, 1}};
    l.cells["serverGroup"] = {{"serverCaption", 0, 0, 1, 1}, {"serverValue", 0, 1, 1, 1}};
    l.stretches = {
        {"", {0, 0, 0, 0, 1, 0}, {1, 0, 0}}, {"nameGroup", {0}, {0, 1}}, {"serverGroup", {0}, {0, 1}}};
    l.texts = {{"", "Connection details"},           {"closeButton", "&Close"},
               {"nameGroup", "VPN connection name"}, {"nameCaption", "Connection name:"},
               {"serverGroup", "VPN server"},        {"serverCaption", "VPN server name or IP address:"}};
    if (pkcs12) {
        l.cells[group] = {{"pkcs12Caption", 0, 0, 1, 1}, {"pkcs12Value", 0, 1, 1, 1}};
        l.stretches.append({group, {0}, {0, 1}});
        l.texts.insert({{group, "PKCS#12 certificate"}, {"pkcs12Caption", "PKCS#12 certificate file:"}});
    } else {
        l.cells[group] = {{"caCaption", 0, 0, 1, 1}, {"caValue", 0, 1, 1, 1},    {"userCaption", 1, 0, 1, 1},
                          {"userValue", 1, 1, 1, 1}, {"keyCaption", 2, 0, 1, 1}, {"keyValue", 2, 1, 1, 1}};
        l.stretches.append({group, {0, 0, 0}, {0, 1}});
        l.texts.insert({{group, "Certificates and key"},
                        {"caCaption", "CA certificate:"},
                        {"userCaption", "User certificate:"},
                        {"keyCaption", "Key file:"}});
    }
    return l;
}

QString visibleText(QWidget* w)
{
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w))
        return group->title();
    return QString();
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScratchHome> m_home;
    std::vector<std::unique_ptr<VpnItem>> m_items;

    QString root() const { return m_home->rootPath(); }
    // A file outside the profile root, as a user would pick it.
    QString source(const QString& name, const QByteArray& bytes)
    {
        const QString path = m_home->path() + "/files/" + name;
        ScratchHome::writeFile(path, bytes);
        return path;
    }
    void writeProfile(const QString& dir, const QMap<QString, QByteArray>& files)
    {
        for (auto it = files.begin(); it != files.end(); ++it)
            QVERIFY(ScratchHome::writeFile(root() + "/" + dir + "/" + it.key(), it.value()));
    }
    VpnItem* item(const QString& dir)
    {
        m_items.push_back(std::make_unique<VpnItem>(root() + "/" + dir + "/conf", dir));
        return m_items.back().get();
    }
    void seedCertProfile()
    {
        writeProfile("0000", {{"conf", certConf("Office", "vpn.example.com", "443", "my key")},
                              {"ca", caBytes},
                              {"user", userBytes}});
    }
    void seedPkcs12Profile()
    {
        writeProfile("0001", {{"conf", pkcs12Conf("Home", "10.0.0.1", "1194", "/keys/me.p12")}});
    }

    std::unique_ptr<QDialog> makeDialog(const QString& kind)
    {
        if (kind == "VpnNewWindow")
            return std::make_unique<VpnNewWindow>();
        if (kind == "VpnPKCS12NewWindow")
            return std::make_unique<VpnPKCS12NewWindow>();
        if (kind == "VpnEditWindow") {
            seedCertProfile();
            return std::make_unique<VpnEditWindow>(item("0000"));
        }
        if (kind == "VpnPKCS12EditWindow") {
            seedPkcs12Profile();
            return std::make_unique<VpnPKCS12EditWindow>(item("0001"));
        }
        if (kind == "VpnInfoWindow") {
            seedCertProfile();
            return std::make_unique<VpnInfoWindow>(item("0000"));
        }
        seedPkcs12Profile();
        return std::make_unique<VpnInfoWindow>(item("0001"));
    }

    void expectRefusedAndOpen(QDialog* dialog, const QString& title, const QString& text)
    {
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(Prompt::messages().at(0).title, title);
        QCOMPARE(Prompt::messages().at(0).text, text);
        QCOMPARE(Prompt::messages().at(0).parent, dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
    }

private Q_SLOTS:
    void initTestCase() { Prompt::setTestMode(true); }

    void init()
    {
        Prompt::reset();
        FileChooser::resetRememberedDirectory();
        m_home = std::make_unique<ScratchHome>();
        QVERIFY(m_home->enterRoot());
        QCOMPARE(QDir::currentPath(), root());
    }

    void cleanup()
    {
        m_items.clear();
        m_home.reset();
    }

    void newCertificateProfile_data()
    {
        QTest::addColumn<bool>("withTemplate");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<QByteArray>("port");
        QTest::newRow("no template, default port")
            << false << "vpn.example.com" << QByteArray("vpn.example.com") << QByteArray("1194");
        QTest::newRow("template, own port")
            << true << "10.1.2.3:443" << QByteArray("10.1.2.3") << QByteArray("443");
    }

    void newCertificateProfile()
    {
        QFETCH(bool, withTemplate);
        QFETCH(QString, server);
        QFETCH(QByteArray, host);
        QFETCH(QByteArray, port);
        writeProfile("0000", {{"conf", pkcs12Conf("Taken", "h", "1", "f")}});

        VpnNewWindow dialog;
        dialog.show();
        type(&dialog, "nameEdit", QString::fromUtf8("Biuro Kraków"));
        if (withTemplate)
            select(&dialog, "templateButton", source("extra.conf", templateBytes));
        type(&dialog, "serverEdit", server);
        const QString ca = source("ca.cert", caBytes);
        select(&dialog, "caButton", ca);
        const QString user = source("me.cert", "old user");
        select(&dialog, "userButton", user);
        // The bytes are those of the moment of Select: later changes on disk do not count.
        select(&dialog, "userButton", source("me.cert", userBytes));
        ScratchHome::writeFile(ca, "changed after Select");
        select(&dialog, "keyButton", source("token.key", "never read"));
        QCOMPARE(edit(&dialog, "keyEdit")->text(), m_home->path() + "/files/token.key");
        QCOMPARE(edit(&dialog, "caEdit")->text(), ca);

        click(&dialog, "saveButton");
        QCOMPARE(Prompt::messages().size(), 0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.profileDirName(), QString("0001"));

        const QByteArray key = (m_home->path() + "/files/token.key").toUtf8();
        QMap<QString, QByteArray> expected{{"0000/conf", pkcs12Conf("Taken", "h", "1", "f")},
                                           {"0001/conf", certConf("Biuro Kraków", host, port, key) + marker +
                                                             (withTemplate ? templateBytes : QByteArray())},
                                           {"0001/ca", caBytes},
                                           {"0001/user", userBytes}};
        QCOMPARE(tree(root()), expected);
        QCOMPARE(subdirectories(root()), QStringList({"0000", "0001"}));
    }

    void newPkcs12Profile_data()
    {
        QTest::addColumn<bool>("withTemplate");
        QTest::addColumn<bool>("typedPath");
        QTest::newRow("selected file, template") << true << false;
        QTest::newRow("path typed by hand, no template") << false << true;
    }

    void newPkcs12Profile()
    {
        QFETCH(bool, withTemplate);
        QFETCH(bool, typedPath);
        VpnPKCS12NewWindow dialog;
        dialog.show();
        type(&dialog, "nameEdit", "Home");
        if (withTemplate)
            select(&dialog, "templateButton", source("t.conf", templateBytes));
        type(&dialog, "serverEdit", "gw:1195");
        const QString p12 = source("first.p12", "PKCS12 bytes");
        select(&dialog, "pkcs12Button", p12);
        const QString second = typedPath ? QString("/typed/by hand.p12") : source("second.p12", "other");
        if (typedPath)
            type(&dialog, "pkcs12Edit", second);
        else
            select(&dialog, "pkcs12Button", second);
        QCOMPARE(edit(&dialog, "pkcs12Edit")->text(), second);

        click(&dialog, "saveButton");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.profileDirName(), QString("0000"));
        // Only the path goes into the profile; the file is neither copied nor changed.
        const QMap<QString, QByteArray> expected{
            {"0000/conf", pkcs12Conf("Home", "gw", "1195", second.toUtf8()) + marker +
                              (withTemplate ? templateBytes : QByteArray())}};
        QCOMPARE(tree(root()), expected);
        QCOMPARE(ScratchHome::readFile(p12), QByteArray("PKCS12 bytes"));
    }

    void editCertificateProfile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QByteArray>("expectedConfHeader");
        QTest::addColumn<QByteArray>("expectedCa");
        QTest::addColumn<QByteArray>("expectedUser");

        const QByteArray same = certConf("Office", "vpn.example.com", "443", "my key");
        QTest::newRow("save without changes writes the same") << "" << same << caBytes << userBytes;
        QTest::newRow("new certificates replace the stored copies")
            << "certificates" << same << QByteArray("new ca") << QByteArray("new user");
        QTest::newRow("CA path typed by hand is read at Save")
            << "typed ca" << same << QByteArray("typed, not loaded") << userBytes;
        QTest::newRow("removing the port falls back to 1194")
            << "no port" << certConf("Office", "vpn.example.com", "1194", "my key") << caBytes << userBytes;
        QTest::newRow("name and key rewritten")
            << "name and key" << certConf("Kraków", "vpn.example.com", "443", "other key") << caBytes
            << userBytes;
    }

    void editCertificateProfile()
    {
        QFETCH(QString, change);
        QFETCH(QByteArray, expectedConfHeader);
        QFETCH(QByteArray, expectedCa);
        QFETCH(QByteArray, expectedUser);
        const QByteArray tail = marker + templateBytes + "\n" + marker + "twice";
        writeProfile("0000", {{"conf", certConf("Office", "vpn.example.com", "443", "my key") + tail},
                              {"ca", caBytes},
                              {"user", userBytes},
                              {"ca.cert", "leftover"},
                              {"user.cert", "leftover"}});
        writeProfile("0001", {{"conf", pkcs12Conf("Other", "h", "1", "f")}});

        VpnEditWindow dialog(item("0000"));
        dialog.show();
        QCOMPARE(edit(&dialog, "nameEdit")->text(), QString("Office"));
        QCOMPARE(edit(&dialog, "serverEdit")->text(), QString("vpn.example.com:443"));
        QCOMPARE(edit(&dialog, "caEdit")->text(), QString("0000/ca"));
        QCOMPARE(edit(&dialog, "userEdit")->text(), QString("0000/user"));
        QCOMPARE(edit(&dialog, "keyEdit")->text(), QString("my key"));
        for (const char* name : {"nameEdit", "serverEdit", "caEdit", "userEdit", "keyEdit"})
            QVERIFY(!edit(&dialog, name)->isReadOnly());
        QCOMPARE(dialog.caContents(), caBytes);
        QCOMPARE(dialog.userCertContents(), userBytes);

        if (change == "certificates") {
            select(&dialog, "caButton", source("new-ca.cert", "new ca"));
            select(&dialog, "userButton", source("new-user.cert", "new user"));
        } else if (change == "typed ca") {
            type(&dialog, "caEdit", source("typed.cert", "typed, not loaded"));
        } else if (change == "no port") {
            type(&dialog, "serverEdit", "vpn.example.com");
        } else if (change == "name and key") {
            type(&dialog, "nameEdit", QString::fromUtf8("Kraków"));
            type(&dialog, "keyEdit", "other key");
        }
        click(&dialog, "saveButton");
        QCOMPARE(Prompt::messages().size(), 0);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        QMap<QString, QByteArray> expected{{"0000/conf", expectedConfHeader + tail},
                                           {"0000/ca", expectedCa},
                                           {"0000/user", expectedUser},
                                           {"0001/conf", pkcs12Conf("Other", "h", "1", "f")}};
        QCOMPARE(tree(root()), expected);
        QCOMPARE(subdirectories(root()), QStringList({"0000", "0001"}));
    }

    void editProfileWithMissingStoredCertificate()
    {
        writeProfile("0000", {{"conf", certConf("Office", "vpn", "1194", "k")}, {"user", userBytes}});
        VpnEditWindow dialog(item("0000"));
        dialog.show();
        QCOMPARE(edit(&dialog, "caEdit")->text(), QString("0000/ca"));
        QVERIFY(dialog.caContents().isEmpty());
        QCOMPARE(dialog.userCertContents(), userBytes);

        click(&dialog, "saveButton");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const QMap<QString, QByteArray> expected{
            {"0000/conf", certConf("Office", "vpn", "1194", "k")}, {"0000/ca", ""}, {"0000/user", userBytes}};
        QCOMPARE(tree(root()), expected);
    }

    // A certificate path typed or pasted instead of selected is read at Save; a file that cannot
    // be read or is empty is refused, naming it, with nothing written.
    void typedCertificatePathReadAtSave_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("typed"); // else chosen through Select
        for (const char* kind : {"VpnNewWindow", "VpnEditWindow"}) {
            QTest::addRow("%s: typed CA file is copied", kind) << kind << "caEdit"
                                                               << "readable" << true;
            QTest::addRow("%s: typed user file is copied", kind) << kind << "userEdit"
                                                                 << "readable" << true;
            QTest::addRow("%s: typed missing file refused", kind) << kind << "caEdit"
                                                                  << "missing" << true;
            QTest::addRow("%s: typed empty file refused", kind) << kind << "userEdit"
                                                                << "empty" << true;
            QTest::addRow("%s: typed link to /dev/zero refused", kind) << kind << "caEdit"
                                                                       << "zero" << true;
            QTest::addRow("%s: selected link to /dev/zero refused", kind) << kind << "userEdit"
                                                                          << "zero" << false;
        }
    }
    void typedCertificatePathReadAtSave()
    {
        QFETCH(QString, kind);
        QFETCH(QString, field);
        QFETCH(QString, file);
        QFETCH(bool, typed);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        if (kind == "VpnNewWindow") {
            type(dialog.get(), "nameEdit", "Office");
            type(dialog.get(), "serverEdit", "vpn.example.com:443");
            select(dialog.get(), "caButton", source("ca.cert", caBytes));
            select(dialog.get(), "userButton", source("user.cert", userBytes));
            type(dialog.get(), "keyEdit", "my key");
        }
        QString path = m_home->path() + "/files/typed.pem";
        if (file == "readable")
            path = source("typed.pem", "typed bytes");
        else if (file == "empty")
            path = source("typed.pem", "");
        else if (file == "zero")
            QVERIFY(QDir().mkpath(m_home->path() + "/files") && QFile::link("/dev/zero", path));
        const QString button = field == "caEdit" ? "caButton" : "userButton";
        if (typed)
            type(dialog.get(), field, path);
        else
            select(dialog.get(), button, path);
        const QMap<QString, QByteArray> before = tree(root());
        const QStringList dirsBefore = subdirectories(root());

        click(dialog.get(), "saveButton");
        if (file == "readable") {
            QCOMPARE(Prompt::messages().size(), 0);
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
            const bool ca = field == "caEdit";
            QCOMPARE(ScratchHome::readFile(root() + "/0000/ca"), ca ? QByteArray("typed bytes") : caBytes);
            QCOMPARE(ScratchHome::readFile(root() + "/0000/user"),
                     ca ? userBytes : QByteArray("typed bytes"));
            return;
        }
        expectRefusedAndOpen(dialog.get(), "Error",
                             QString("Certificate file %1 cannot be read or is empty!").arg(path));
        QCOMPARE(Prompt::messages().at(0).icon, QMessageBox::Critical);
        QCOMPARE(tree(root()), before);
        QCOMPARE(subdirectories(root()), dirsBefore);

        // Selecting a good file puts it right.
        Prompt::reset();
        select(dialog.get(), button, source("good.pem", "good"));
        click(dialog.get(), "saveButton");
        QCOMPARE(Prompt::messages().size(), 0);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    // A stored certificate copy that is a link to a device, or a FIFO, opens as empty.
    void editWithIrregularStoredCertificates()
    {
        seedCertProfile();
        QVERIFY(QFile::remove(root() + "/0000/ca"));
        QVERIFY(QFile::remove(root() + "/0000/user"));
        QVERIFY(QFile::link("/dev/zero", root() + "/0000/ca"));
        FifoGuard fifo(root() + "/0000/user");
        QVERIFY(fifo.isValid());
        VpnEditWindow dialog(item("0000"));
        QVERIFY(!fifo.released());
        QVERIFY(dialog.caContents().isEmpty());
        QVERIFY(dialog.userCertContents().isEmpty());
        QCOMPARE(edit(&dialog, "caEdit")->text(), QString("0000/ca"));
    }

    // A stored copy too large to read is not replaced by nothing at an untouched save.
    void editWithOversizeStoredCertificateRefuses()
    {
        seedCertProfile();
        QFile ca(root() + "/0000/ca");
        QVERIFY(ca.open(QIODevice::WriteOnly) && ca.resize((1 << 20) + 1));
        ca.close();
        const QMap<QString, QByteArray> before = tree(root());
        VpnEditWindow dialog(item("0000"));
        dialog.show();
        click(&dialog, "saveButton");
        expectRefusedAndOpen(&dialog, "Error", "Certificate file 0000/ca cannot be read or is empty!");
        QCOMPARE(tree(root()), before);
    }

    void editPkcs12Profile()
    {
        writeProfile("0004", {{"conf", pkcs12Conf("Home", "10.0.0.1", "", "/keys/me.p12") + marker + "tls"}});
        VpnPKCS12EditWindow dialog(item("0004"));
        dialog.show();
        QCOMPARE(edit(&dialog, "nameEdit")->text(), QString("Home"));
        QCOMPARE(edit(&dialog, "serverEdit")->text(), QString("10.0.0.1:"));
        QCOMPARE(edit(&dialog, "pkcs12Edit")->text(), QString("/keys/me.p12"));

        const QString p12 = source("new.p12", "p12");
        select(&dialog, "pkcs12Button", p12);
        QCOMPARE(edit(&dialog, "pkcs12Edit")->text(), p12);
        click(&dialog, "saveButton");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // An empty port comes back as it was, and the template section survives the edit.
        QCOMPARE(ScratchHome::readFile(root() + "/0004/conf"),
                 pkcs12Conf("Home", "10.0.0.1", "", p12.toUtf8()) + marker + "tls");
        QCOMPARE(QDir(root() + "/0004").entryList(QDir::Files), QStringList({"conf"}));
    }

    void missingDataOrder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("filled");
        QTest::addColumn<QString>("message");

        const QStringList cert = {"nameEdit", "serverEdit", "caEdit", "userEdit", "keyEdit"};
        const QStringList messages = {"Enter VPN connection name!", "Enter VPN server name or IP address!",
                                      "Select CA certificate file!", "Select User certificate file!",
                                      "Select private key file!"};
        QTest::newRow("nothing filled: the name first") << "VpnNewWindow" << QStringList() << messages[0];
        QTest::newRow("only the key: still the name")
            << "VpnNewWindow" << QStringList{"keyEdit"} << messages[0];
        for (int i = 1; i < cert.size(); ++i) {
            QStringList filled = cert.mid(0, i);
            filled.append(cert.mid(i + 1));
            QTest::addRow("new, all but %s", qPrintable(cert[i])) << "VpnNewWindow" << filled << messages[i];
            QTest::addRow("edit, %s emptied", qPrintable(cert[i]))
                << "VpnEditWindow" << filled << messages[i];
        }
        QTest::newRow("template alone does not count")
            << "VpnNewWindow" << QStringList{"templateEdit"} << messages[0];
        QTest::newRow("PKCS#12 new, no server")
            << "VpnPKCS12NewWindow" << QStringList{"nameEdit", "pkcs12Edit"} << messages[1];
        QTest::newRow("PKCS#12 new, no file") << "VpnPKCS12NewWindow" << QStringList{"nameEdit", "serverEdit"}
                                              << "Select PKCS#12 certificate file!";
        QTest::newRow("PKCS#12 edit, name emptied")
            << "VpnPKCS12EditWindow" << QStringList{"serverEdit", "pkcs12Edit"} << messages[0];
        QTest::newRow("PKCS#12 edit, file emptied")
            << "VpnPKCS12EditWindow" << QStringList{"nameEdit", "serverEdit"}
            << "Select PKCS#12 certificate file!";
    }

    void missingDataOrder()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, filled);
        QFETCH(QString, message);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        const QMap<QString, QByteArray> before = tree(root());
        QMap<QString, QString> typed;
        for (QLineEdit* e : dialog->findChildren<QLineEdit*>()) {
            // Spaces count as filled.
            const QString text = filled.contains(e->objectName()) ? " " + e->objectName() : QString();
            type(dialog.get(), e->objectName(), text);
            typed[e->objectName()] = text;
        }
        click(dialog.get(), "saveButton");
        QCOMPARE(Prompt::messages().size(), 1);
        QCOMPARE(Prompt::messages().at(0).icon, QMessageBox::Information);
        QCOMPARE(Prompt::messages().at(0).buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        expectRefusedAndOpen(dialog.get(), "Missing data", message);
        QCOMPARE(tree(root()), before);
        for (QLineEdit* e : dialog->findChildren<QLineEdit*>())
            QCOMPARE(e->text(), typed[e->objectName()]);
    }

    // A refused or failed save must leave the dialog open with everything the user entered, so
    // the user can put the problem right and save again.
    void refusedOrFailedSaveKeepsDialogOpen_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("title");

        QTest::newRow("new: line break in the key file name") << "VpnNewWindow"
                                                              << "key line break"
                                                              << "Invalid data";
        QTest::newRow("new: line break in the name") << "VpnNewWindow"
                                                     << "name line break"
                                                     << "Invalid data";
        QTest::newRow("new PKCS#12: line break in the file name") << "VpnPKCS12NewWindow"
                                                                  << "pkcs12 line break"
                                                                  << "Invalid data";
        QTest::newRow("edit: line break in the key file name") << "VpnEditWindow"
                                                               << "key line break"
                                                               << "Invalid data";
        QTest::newRow("new: directory name taken by a file") << "VpnNewWindow"
                                                             << "file in the way"
                                                             << "Error";
        QTest::newRow("new PKCS#12: directory name taken by a file") << "VpnPKCS12NewWindow"
                                                                     << "file in the way"
                                                                     << "Error";
        QTest::newRow("edit: stored user certificate is a directory") << "VpnEditWindow"
                                                                      << "directory in the way"
                                                                      << "Error";
        QTest::newRow("PKCS#12 edit: conf is a directory") << "VpnPKCS12EditWindow"
                                                           << "conf directory"
                                                           << "Error";
    }

    void refusedOrFailedSaveKeepsDialogOpen()
    {
        QFETCH(QString, kind);
        QFETCH(QString, problem);
        QFETCH(QString, title);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        const bool pkcs12 = kind.contains("PKCS12");
        const bool isNew = kind.contains("New");
        if (isNew) {
            type(dialog.get(), "nameEdit", "Office");
            type(dialog.get(), "serverEdit", "vpn:443");
            if (pkcs12) {
                select(dialog.get(), "pkcs12Button", source("a.p12", "p12"));
            } else {
                select(dialog.get(), "caButton", source("ca.cert", caBytes));
                select(dialog.get(), "userButton", source("user.cert", userBytes));
                select(dialog.get(), "keyButton", source("k.key", ""));
            }
        }
        QString fixedName;
        if (problem == "key line break") {
            select(dialog.get(), "keyButton", source("k\ninclude /etc/evil.key", "x"));
            fixedName = "keyEdit";
        } else if (problem == "pkcs12 line break") {
            select(dialog.get(), "pkcs12Button", source("a\rb.p12", "x"));
            fixedName = "pkcs12Edit";
        } else if (problem == "name line break") {
            edit(dialog.get(), "nameEdit")->setText("Office\nremote evil.example.com");
            fixedName = "nameEdit";
        } else if (problem == "file in the way") {
            ScratchHome::writeFile(root() + "/0000", "not a profile");
        } else if (problem == "directory in the way") {
            QFile::remove(root() + "/0000/user");
            QVERIFY(QDir(root()).mkpath("0000/user"));
        } else if (problem == "conf directory") {
            QFile::remove(root() + "/0001/conf");
            QVERIFY(QDir(root()).mkpath("0001/conf"));
        }
        QMap<QString, QString> entered;
        for (QLineEdit* e : dialog->findChildren<QLineEdit*>())
            entered[e->objectName()] = e->text();
        const QMap<QString, QByteArray> before = tree(root());
        const QStringList dirsBefore = subdirectories(root());

        click(dialog.get(), "saveButton");
        QCOMPARE(Prompt::messages().size(), 1);
        expectRefusedAndOpen(dialog.get(), title, Prompt::messages().at(0).text);
        QVERIFY(!Prompt::messages().at(0).text.isEmpty());
        for (QLineEdit* e : dialog->findChildren<QLineEdit*>())
            QCOMPARE(e->text(), entered[e->objectName()]);
        QCOMPARE(tree(root()), before);
        QCOMPARE(subdirectories(root()), dirsBefore);

        // Put the problem right: the same dialog now saves.
        if (!fixedName.isEmpty())
            type(dialog.get(), fixedName, "fixed");
        else if (problem == "file in the way")
            QVERIFY(QFile::remove(root() + "/0000"));
        else if (problem == "directory in the way")
            QVERIFY(QDir(root() + "/0000/user").removeRecursively());
        else
            QVERIFY(QDir(root() + "/0001/conf").removeRecursively());
        Prompt::reset();
        click(dialog.get(), "saveButton");
        QCOMPARE(Prompt::messages().size(), 0);
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("escape");
        for (const char* kind :
             {"VpnNewWindow", "VpnPKCS12NewWindow", "VpnEditWindow", "VpnPKCS12EditWindow"}) {
            QTest::addRow("%s, Cancel button", kind) << kind << false;
            QTest::addRow("%s, Escape key", kind) << kind << true;
        }
    }

    void cancelWritesNothing()
    {
        QFETCH(QString, kind);
        QFETCH(bool, escape);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        const QMap<QString, QByteArray> before = tree(root());
        type(dialog.get(), "nameEdit", "Changed");
        type(dialog.get(), "serverEdit", "changed:1");
        const bool pkcs12 = kind.contains("PKCS12");
        select(dialog.get(), pkcs12 ? "pkcs12Button" : "caButton", source("x.cert", "x"));
        if (!pkcs12) {
            select(dialog.get(), "userButton", source("y.cert", "y"));
            type(dialog.get(), "keyEdit", "k");
        }
        if (escape)
            QTest::keyClick(edit(dialog.get(), "nameEdit"), Qt::Key_Escape);
        else
            click(dialog.get(), "cancelButton");
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(tree(root()), before);
        QCOMPARE(Prompt::messages().size(), 0);
    }

    void rememberedDirectoryMovesAcrossDialogs()
    {
        QCOMPARE(QDir::homePath(), m_home->path());
        const QString ca = source("certs/ca.cert", caBytes);
        {
            VpnNewWindow wizard;
            wizard.show();
            select(&wizard, "templateButton", QString());
            QCOMPARE(Prompt::history().constLast().directory, m_home->path());
            select(&wizard, "caButton", ca);
            QCOMPARE(Prompt::history().constLast().directory, m_home->path());
            select(&wizard, "userButton", QString());
            QCOMPARE(Prompt::history().constLast().directory, m_home->path() + "/files/certs");
            QCOMPARE(edit(&wizard, "userEdit")->text(), QString());
            QVERIFY(wizard.userCertContents().isEmpty());
            wizard.reject();
        }
        seedPkcs12Profile();
        VpnPKCS12EditWindow editor(item("0001"));
        editor.show();
        select(&editor, "pkcs12Button", QString());
        QCOMPARE(Prompt::history().constLast().directory, m_home->path() + "/files/certs");
        QCOMPARE(edit(&editor, "pkcs12Edit")->text(), QString("/keys/me.p12"));
        select(&editor, "pkcs12Button", source("p12/me.p12", "p"));

        VpnPKCS12NewWindow wizard;
        wizard.show();
        select(&wizard, "templateButton", QString());
        QCOMPARE(Prompt::history().constLast().directory, m_home->path() + "/files/p12");
    }

    void selectionKeepsFieldAndContentsRules()
    {
        VpnNewWindow dialog;
        dialog.show();
        select(&dialog, "caButton", source("one.cert", "one"));
        select(&dialog, "caButton", source("two.cert", "two"));
        QCOMPARE(edit(&dialog, "caEdit")->text(), m_home->path() + "/files/two.cert");
        QCOMPARE(dialog.caContents(), QByteArray("two"));
        // An unreadable choice shows its path and leaves the contents empty.
        select(&dialog, "caButton", m_home->path() + "/files");
        QCOMPARE(edit(&dialog, "caEdit")->text(), m_home->path() + "/files");
        QVERIFY(dialog.caContents().isEmpty());
        select(&dialog, "userButton", m_home->path() + "/missing.cert");
        QCOMPARE(edit(&dialog, "userEdit")->text(), m_home->path() + "/missing.cert");
        QVERIFY(dialog.userCertContents().isEmpty());
        select(&dialog, "templateButton", source("t.conf", templateBytes));
        select(&dialog, "templateButton", QString());
        QCOMPARE(edit(&dialog, "templateEdit")->text(), m_home->path() + "/files/t.conf");
        QCOMPARE(dialog.templateContents(), templateBytes);
    }

    // A template is a configuration: both wizards keep one beyond the certificates' 1 MiB cap.
    void largeTemplateKeptByBothWizards()
    {
        QByteArray large(3 << 19, '#');
        large.append("\nverb 4\n");
        const QString path = source("large.conf", large);
        VpnNewWindow certificate;
        VpnPKCS12NewWindow pkcs12;
        for (ProfileDialog* wizard :
             {static_cast<ProfileDialog*>(&certificate), static_cast<ProfileDialog*>(&pkcs12)}) {
            wizard->show();
            select(wizard, "templateButton", path);
            QCOMPARE(edit(wizard, "templateEdit")->text(), path);
            QCOMPARE(wizard->templateContents(), large);
        }
    }

    void fileDialogCaptionsAndContexts_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("filter");
        const QString certCaption = "[QObject]Select certificate file";
        const QString certFilter = "[QObject]Certificate files (*.cert *.crt *.pem);;All files (*)";
        const QString p12Caption = "[QObject]Select PKCS#12 certificate file";
        const QString p12Filter = "[QObject]PKCS#12 certificate files (*.p12);;All files (*)";
        for (const char* kind : {"VpnNewWindow", "VpnEditWindow"}) {
            QTest::addRow("%s CA", kind) << kind << "caButton" << certCaption << certFilter;
            QTest::addRow("%s user", kind) << kind << "userButton" << certCaption << certFilter;
            QTest::addRow("%s key", kind)
                << kind << "keyButton" << QString("[%1]Select private key file").arg(kind)
                << QString("[%1]Key files (*.key);;All files (*)").arg(kind);
        }
        for (const char* kind : {"VpnNewWindow", "VpnPKCS12NewWindow"})
            QTest::addRow("%s template", kind)
                << kind << "templateButton" << QString("[%1]Select file").arg(kind) << QString();
        for (const char* kind : {"VpnPKCS12NewWindow", "VpnPKCS12EditWindow"})
            QTest::addRow("%s PKCS#12", kind) << kind << "pkcs12Button" << p12Caption << p12Filter;
    }

    void fileDialogCaptionsAndContexts()
    {
        QFETCH(QString, kind);
        QFETCH(QString, button);
        QFETCH(QString, caption);
        QFETCH(QString, filter);
        ContextTagger tagger;
        QCoreApplication::installTranslator(&tagger);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        select(dialog.get(), button, QString());
        QCoreApplication::removeTranslator(&tagger);
        QCOMPARE(Prompt::history().size(), 1);
        const Prompt::Shown& shown = Prompt::history().at(0);
        QCOMPARE(shown.kind, Prompt::Kind::OpenFile);
        QCOMPARE(shown.title, caption);
        QCOMPARE(shown.filter, filter);
        QCOMPARE(shown.parent, dialog.get());
        QCOMPARE(shown.directory, QDir::homePath());
    }

    void layout_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"VpnNewWindow", "VpnPKCS12NewWindow", "VpnEditWindow", "VpnPKCS12EditWindow",
                                 "VpnInfoWindow", "VpnInfoWindow PKCS#12"})
            QTest::newRow(kind) << kind;
    }

    // Every widget in its grid cell with its span, every stretch factor, every visible text.
    void layout()
    {
        QFETCH(QString, kind);
        const bool pkcs12 = kind.contains("PKCS");
        Layout expected;
        if (kind.startsWith("VpnInfo")) {
            expected = infoLayout(pkcs12);
        } else {
            expected = kind.contains("New") ? wizardLayout(pkcs12) : editLayout(pkcs12);
            if (pkcs12)
                addPkcs12Group(&expected);
            else
                addCertGroup(&expected);
        }

        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        QCOMPARE(dialog->windowTitle(), expected.texts.value(""));
        QCOMPARE(dialog->windowIcon().pixmap(32).toImage(), QIcon(":img/vpn.png").pixmap(32).toImage());

        int widgetsPlaced = 0;
        for (auto it = expected.cells.begin(); it != expected.cells.end(); ++it) {
            QWidget* owner = it.key().isEmpty() ? dialog.get() : child<QWidget>(dialog.get(), it.key());
            QVERIFY2(owner, qPrintable(it.key()));
            auto* grid = qobject_cast<QGridLayout*>(owner->layout());
            QVERIFY2(grid, qPrintable(it.key()));
            QCOMPARE(grid->count(), it.value().size());
            for (const Cell& cell : it.value()) {
                QWidget* w = child<QWidget>(dialog.get(), cell.widget);
                QVERIFY2(w, qPrintable(cell.widget));
                const int index = grid->indexOf(w);
                QVERIFY2(index >= 0, qPrintable(cell.widget + " not in the grid of " + it.key()));
                int row, column, rowSpan, columnSpan;
                grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
                QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}),
                         QList<int>({cell.row, cell.column, cell.rowSpan, cell.columnSpan}));
                ++widgetsPlaced;
            }
        }
        for (const Stretch& s : expected.stretches) {
            QWidget* owner =
                s.layoutOwner.isEmpty() ? dialog.get() : child<QWidget>(dialog.get(), s.layoutOwner);
            auto* grid = qobject_cast<QGridLayout*>(owner->layout());
            QVERIFY(grid);
            QList<int> rows, columns;
            for (int r = 0; r < qMax(grid->rowCount(), int(s.rows.size())); ++r)
                rows.append(grid->rowStretch(r));
            for (int c = 0; c < qMax(grid->columnCount(), int(s.columns.size())); ++c)
                columns.append(grid->columnStretch(c));
            QList<int> expectedRows = s.rows, expectedColumns = s.columns;
            while (expectedRows.size() < rows.size())
                expectedRows.append(0);
            while (expectedColumns.size() < columns.size())
                expectedColumns.append(0);
            QVERIFY2(rows == expectedRows, qPrintable("row stretch of " + s.layoutOwner));
            QVERIFY2(columns == expectedColumns, qPrintable("column stretch of " + s.layoutOwner));
        }

        // Every text the user can see is one of the expected ones, and every expected one is shown.
        QMap<QString, QString> shown;
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            const QString text = visibleText(w);
            if (!text.isEmpty() && !w->objectName().endsWith("Value"))
                shown.insert(w->objectName(), text);
        }
        QMap<QString, QString> expectedTexts = expected.texts;
        expectedTexts.remove("");
        QCOMPARE(shown, expectedTexts);
        for (QLabel* label : dialog->findChildren<QLabel*>())
            if (label->text().contains("<sup>"))
                QCOMPARE(label->textFormat(), Qt::AutoText); // rendered as a superscript asterisk
        for (QLineEdit* e : dialog->findChildren<QLineEdit*>())
            QVERIFY(e->isEnabled() && !e->isReadOnly());
        // The fields (or values) of all groups start at one x, and the captions fit at the default size.
        dialog->layout()->activate();
        QSet<int> fieldStarts;
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            if (qobject_cast<QLineEdit*>(w) || w->objectName().endsWith("Value"))
                fieldStarts.insert(w->mapTo(dialog.get(), QPoint(0, 0)).x());
            if (qobject_cast<QLabel*>(w) || qobject_cast<QPushButton*>(w))
                QVERIFY2(w->width() >= w->sizeHint().width(), qPrintable(w->objectName()));
        }
        QCOMPARE(fieldStarts.size(), 1);
        if (kind.contains("New"))
            for (QLineEdit* e : dialog->findChildren<QLineEdit*>())
                QVERIFY2(e->text().isEmpty(), qPrintable(e->objectName()));
    }

    // Each dialog's own texts are looked up in the context named after its class.
    void translationContexts_data() { layout_data(); }

    void translationContexts()
    {
        QFETCH(QString, kind);
        ContextTagger tagger;
        QCoreApplication::installTranslator(&tagger);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        QCoreApplication::removeTranslator(&tagger);
        const QString tag = "[" + QString(dialog->metaObject()->className()) + "]";
        QVERIFY2(dialog->windowTitle().startsWith(tag), qPrintable(dialog->windowTitle()));
        int texts = 0;
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            const QString text = visibleText(w);
            if (text.isEmpty() || w->objectName().endsWith("Value"))
                continue;
            QVERIFY2(text.startsWith(tag), qPrintable(w->objectName() + ": " + text));
            ++texts;
        }
        QVERIFY(texts >= 6);
    }

    // What a screen reader walks: the dialog's accessibility tree. Every field and button has a
    // name of its own, the fields the one of their caption, the Select buttons what they select.
    void accessibilityTree_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Texts>("names"); // object name -> accessible name
        const Texts cert = {{"nameEdit", "Connection name"},
                            {"serverEdit", "VPN server name or IP address"},
                            {"caEdit", "CA certificate"},
                            {"caButton", "Select CA certificate"},
                            {"userEdit", "User certificate"},
                            {"userButton", "Select user certificate"},
                            {"keyEdit", "Key name"},
                            {"keyButton", "Select key file"},
                            {"saveButton", "Save"}};
        const Texts pkcs12 = {{"nameEdit", "Connection name"},
                              {"serverEdit", "VPN server name or IP address"},
                              {"pkcs12Edit", "PKCS#12 certificate file"},
                              {"pkcs12Button", "Select PKCS#12 certificate file"},
                              {"saveButton", "Save"}};
        const Texts templateRows = {{"templateEdit", "Connection template file"},
                                    {"templateButton", "Select connection template file"}};
        auto with = [](Texts names, const Texts& more) {
            names.insert(more);
            return names;
        };
        QTest::newRow("VpnNewWindow") << "VpnNewWindow" << with(cert, templateRows);
        QTest::newRow("VpnEditWindow") << "VpnEditWindow" << cert;
        QTest::newRow("VpnPKCS12NewWindow") << "VpnPKCS12NewWindow" << with(pkcs12, templateRows);
        QTest::newRow("VpnPKCS12EditWindow") << "VpnPKCS12EditWindow" << pkcs12;
        QTest::newRow("VpnInfoWindow") << "VpnInfoWindow" << Texts{{"closeButton", "Close"}};
    }

    void accessibilityTree()
    {
        QFETCH(QString, kind);
        QFETCH(Texts, names);
        std::unique_ptr<QDialog> dialog = makeDialog(kind);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

        struct Node
        {
            QString objectName;
            QAccessible::Role role;
            QString name;
            QString description;
        };
        QList<Node> nodes;
        std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
            for (int i = 0; i < iface->childCount(); ++i) {
                QAccessibleInterface* child = iface->child(i);
                QVERIFY(child);
                const QObject* object = child->object();
                nodes.append({object ? object->objectName() : QString(), child->role(),
                              child->text(QAccessible::Name), child->text(QAccessible::Description)});
                walk(child);
            }
        };
        QAccessibleInterface* root = QAccessible::queryAccessibleInterface(dialog.get());
        QVERIFY(root);
        QCOMPARE(root->role(), QAccessible::Dialog);
        walk(root);

        QStringList seen;
        int fields = 0;
        int buttons = 0;
        for (const Node& node : nodes) {
            if (node.role != QAccessible::EditableText && node.role != QAccessible::Button)
                continue;
            (node.role == QAccessible::Button ? buttons : fields)++;
            const QString where = kind + " " + node.objectName;
            QVERIFY2(!node.name.isEmpty(), qPrintable(where));
            QVERIFY2(!seen.contains(node.name), qPrintable(where + ": " + node.name + " twice"));
            QVERIFY2(!node.name.contains('<') && !node.name.contains('&'),
                     qPrintable(where + ": " + node.name));
            seen << node.name;
            if (names.contains(node.objectName))
                QCOMPARE(node.name, names.value(node.objectName));
            // The marked captions say so in words.
            if (node.role == QAccessible::EditableText && node.objectName != "templateEdit")
                QCOMPARE(node.description, QStringLiteral("Required field"));
        }
        for (auto it = names.begin(); it != names.end(); ++it)
            QVERIFY2(std::any_of(nodes.begin(), nodes.end(),
                                 [&](const Node& n) { return n.objectName == it.key(); }),
                     qPrintable(kind + ": " + it.key() + " not in the tree"));
        QCOMPARE(fields, int(std::count_if(names.begin(), names.end(), [](const QString& n) {
                     return !n.startsWith("Select") && n != "Save" && n != "Close";
                 })));
        QVERIFY(buttons >= 1);

        // Each caption is its field's buddy, so its mnemonic and a click reach the field.
        for (QLineEdit* field : dialog->findChildren<QLineEdit*>()) {
            const QString caption = field->objectName().chopped(4) + "Label";
            auto* label = dialog->findChild<QLabel*>(caption);
            QVERIFY2(label, qPrintable(caption));
            QCOMPARE(label->buddy(), field);
        }
    }

    // The Select buttons' names are translated, the visible text stays the one word.
    void selectButtonNamesInPolish()
    {
        QTranslator polish;
        QVERIFY(polish.load(QStringLiteral(":qlumar_vpn_pl.qm")));
        QCoreApplication::installTranslator(&polish);
        std::unique_ptr<QDialog> dialog = makeDialog("VpnNewWindow");
        QCoreApplication::removeTranslator(&polish);
        auto* ca = child<QPushButton>(dialog.get(), "caButton");
        QVERIFY(ca);
        QCOMPARE(ca->accessibleName(), QStringLiteral("Wybierz certyfikat CA"));
        QCOMPARE(ca->text(), child<QPushButton>(dialog.get(), "keyButton")->text());
        QVERIFY(ca->accessibleName() != ca->text());
    }

    // The save's messages come from one context, whatever dialog shows them.
    void saveMessagesInPolish()
    {
        QTranslator polish;
        QVERIFY(polish.load(QStringLiteral(":qlumar_vpn_pl.qm")));
        QCoreApplication::installTranslator(&polish);
        for (const char* kind : {"VpnNewWindow", "VpnPKCS12EditWindow"}) {
            std::unique_ptr<QDialog> dialog = makeDialog(kind);
            dialog->show();
            type(dialog.get(), "nameEdit", QString());
            Prompt::reset();
            click(dialog.get(), "saveButton");
            expectRefusedAndOpen(dialog.get(), QStringLiteral("Brak wymaganych danych"),
                                 QStringLiteral("Podaj nazwę połączenia VPN!"));
        }
        QCoreApplication::removeTranslator(&polish);
    }

    void infoValues_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<Texts>("values");
        QTest::addColumn<bool>("pkcs12");

        QTest::newRow("certificates and key, names from the conf")
            << QByteArray("# qLumarVpnName Biuro Kraków\nremote vpn.example.com\nrport 443\nca a.crt\ncert "
                          "u.crt\nkey \"token key\"\n")
            << Texts{{"nameValue", "Biuro Kraków"},
                     {"serverValue", "vpn.example.com:443"},
                     {"caValue", "0002/a.crt"},
                     {"userValue", "0002/u.crt"},
                     {"keyValue", "token key"}}
            << false;
        QTest::newRow("PKCS#12 path wins over stored certificates")
            << QByteArray("# qLumarVpnName Home\nremote gw\nrport 1\nca ca\ncert user\npkcs12 /k/me.p12\n")
            << Texts{{"nameValue", "Home"}, {"serverValue", "gw:1"}, {"pkcs12Value", "/k/me.p12"}} << true;
        QTest::newRow("empty port shows a bare colon")
            << QByteArray("# qLumarVpnName X\nremote gw\npkcs12 p\n")
            << Texts{{"nameValue", "X"}, {"serverValue", "gw:"}, {"pkcs12Value", "p"}} << true;
        QTest::newRow("markup in a name is shown as typed")
            << QByteArray("# qLumarVpnName <b>bold</b> & <img src=x>\nremote gw\nrport 1\npkcs12 p\n")
            << Texts{{"nameValue", "<b>bold</b> & <img src=x>"},
                     {"serverValue", "gw:1"},
                     {"pkcs12Value", "p"}}
            << true;
    }

    void infoValues()
    {
        QFETCH(QByteArray, conf);
        QFETCH(Texts, values);
        QFETCH(bool, pkcs12);
        writeProfile("0002", {{"conf", conf}});
        const QMap<QString, QByteArray> before = tree(root());
        VpnInfoWindow dialog(item("0002"));
        dialog.show();
        QMap<QString, QString> shown;
        for (QLabel* label : dialog.findChildren<QLabel*>()) {
            if (label->objectName().endsWith("Value")) {
                shown.insert(label->objectName(), label->text());
                QCOMPARE(label->textFormat(), Qt::PlainText);
            }
        }
        QCOMPARE(shown, values);
        QCOMPARE(dialog.findChild<QGroupBox*>("pkcs12Group") != nullptr, pkcs12);
        QCOMPARE(dialog.findChild<QGroupBox*>("certGroup") != nullptr, !pkcs12);
        click(&dialog, "closeButton");
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(tree(root()), before);
    }

    // The slots run their dialogs modally; a zero timer acts inside the dialog's own event loop.
    void newSlotChoosesTheWizard_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expectedClass");
        QTest::newRow("cancelled chooser opens nothing") << QString() << QString();
        QTest::newRow("certificates and key") << "Certificates and key"
                                              << "VpnNewWindow";
        QTest::newRow("PKCS#12") << "PKCS#12 certificate"
                                 << "VpnPKCS12NewWindow";
        QTest::newRow("any other text: PKCS#12") << "something else"
                                                 << "VpnPKCS12NewWindow";
    }

    void newSlotChoosesTheWizard()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expectedClass);
        MainWindow window;
        if (answer.isEmpty())
            Prompt::answerCancel();
        else
            Prompt::answerItem(answer);
        QString opened;
        QPointer<QWidget> dialog;
        QTimer::singleShot(0, this, [&] {
            dialog = QApplication::activeModalWidget();
            if (!dialog)
                return;
            opened = dialog->metaObject()->className();
            QCOMPARE(dialog->parentWidget(), &window);
            click(dialog, "cancelButton");
        });
        window.vpnNewSlot();
        QCOMPARE(Prompt::history().size(), 1);
        const Prompt::Shown& chooser = Prompt::history().at(0);
        QCOMPARE(chooser.kind, Prompt::Kind::Item);
        QCOMPARE(chooser.title, QString("VPN connection creation method"));
        QCOMPARE(chooser.text, QString("Creation method"));
        QCOMPARE(chooser.items, QStringList({"Certificates and key", "PKCS#12 certificate"}));
        QCOMPARE(chooser.parent, &window);
        if (answer.isEmpty())
            QCoreApplication::processEvents();
        QCOMPARE(opened, expectedClass);
        QVERIFY(dialog.isNull()); // deleted after use
        QVERIFY(subdirectories(root()).isEmpty());
    }

    void editAndInfoSlotsPickTheirDialog_data()
    {
        QTest::addColumn<QString>("slot");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("expectedClass");
        QTest::newRow("edit, certificates") << "edit"
                                            << "0000"
                                            << "VpnEditWindow";
        QTest::newRow("edit, PKCS#12") << "edit"
                                       << "0001"
                                       << "VpnPKCS12EditWindow";
        QTest::newRow("edit, PKCS#12 path beside certificates") << "edit"
                                                                << "0002"
                                                                << "VpnPKCS12EditWindow";
        QTest::newRow("information, hidden window shown first") << "info"
                                                                << "0000"
                                                                << "VpnInfoWindow";
    }

    void editAndInfoSlotsPickTheirDialog()
    {
        QFETCH(QString, slot);
        QFETCH(QString, profile);
        QFETCH(QString, expectedClass);
        seedCertProfile();
        seedPkcs12Profile();
        writeProfile("0002", {{"conf", certConf("Both", "h", "1", "k") + "pkcs12 x.p12\n"}});
        MainWindow window;
        window.vpnItemPressedSlot(item(profile));
        QVERIFY(!window.isVisible());
        QString opened;
        bool windowShown = false;
        QPointer<QWidget> dialog;
        QTimer::singleShot(0, this, [&] {
            dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            opened = dialog->metaObject()->className();
            windowShown = window.isVisible();
            click(dialog, slot == "info" ? "closeButton" : "cancelButton");
        });
        if (slot == "info")
            window.vpnInfoSlot();
        else
            window.vpnEditSlot();
        QCOMPARE(opened, expectedClass);
        QCOMPARE(windowShown, slot == "info");
        QVERIFY(dialog.isNull());
    }

    // An accepted dialog reloads the list from disk; a cancelled one leaves it alone.
    void slotsReloadTheListOnlyWhenAccepted()
    {
        seedCertProfile();
        MainWindow window;
        auto* list = window.findChild<QListWidget*>("vpnList");
        QVERIFY(list);
        if (list->count() == 0)
            QSKIP("the profile list is not loaded from disk in this build");
        QCOMPARE(list->count(), 1);

        Prompt::answerItem("PKCS#12 certificate");
        QTimer::singleShot(0, this, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            type(dialog, "nameEdit", "Second");
            type(dialog, "serverEdit", "gw");
            type(dialog, "pkcs12Edit", "/k.p12");
            click(dialog, "saveButton");
        });
        window.vpnNewSlot();
        QCOMPARE(list->count(), 2);

        ScratchHome::writeFile(root() + "/0009/conf", pkcs12Conf("Third", "h", "1", "f"));
        window.vpnItemPressedSlot(list->item(0));
        QTimer::singleShot(0, this, [&] { click(QApplication::activeModalWidget(), "cancelButton"); });
        window.vpnEditSlot();
        QCOMPARE(list->count(), 2);
    }

    // Pictures of the five dialogs for a human to look at; only when QLUMAR_SCREENSHOT_DIR is set.
    void screenshots()
    {
        const QString dir = qEnvironmentVariable("QLUMAR_SCREENSHOT_DIR");
        if (dir.isEmpty())
            QSKIP("QLUMAR_SCREENSHOT_DIR not set");
        QVERIFY(QDir().mkpath(dir));
        const QStringList kinds = {"VpnNewWindow",        "VpnPKCS12NewWindow", "VpnEditWindow",
                                   "VpnPKCS12EditWindow", "VpnInfoWindow",      "VpnInfoWindow PKCS#12"};
        for (const QString& kind : kinds) {
            std::unique_ptr<QDialog> dialog = makeDialog(kind);
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
            const QString file = dir + "/" + QString(kind).replace(" ", "_").remove("#") + ".png";
            QVERIFY(dialog->grab().save(file));
            qInfo("%s %dx%d", qPrintable(file), dialog->width(), dialog->height());
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
