#include "GuiTestBase.h"

#include "app/MainWindow.h"
#include "app/Prompt.h"

#include <QAction>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QtTest>

GuiTestBase::~GuiTestBase() = default;

void GuiTestBase::init()
{
    Prompt::setTestMode(true);
    Prompt::reset();
    m_home = std::make_unique<ScratchHome>();
    QVERIFY(m_home->isValid());
    QVERIFY(m_home->enterRoot());
}

void GuiTestBase::cleanup()
{
    m_window.reset();
    m_home.reset();
    Prompt::reset();
}

MainWindow* GuiTestBase::mainWindow(bool shown)
{
    m_window = std::make_unique<MainWindow>();
    if (shown) {
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            QTest::qFail("the main window was not exposed", __FILE__, __LINE__);
    }
    return m_window.get();
}

MainWindow* GuiTestBase::runningMainWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<MainWindow*>(w))
            return m;
    return nullptr;
}

void GuiTestBase::triggerAction(QAction* action)
{
    QVERIFY(action);
    QVERIFY2(action->isEnabled(), qPrintable(action->objectName() + QLatin1String(" is disabled")));
    action->trigger();
}

QList<QAction*> openedMenuEntries(QMenu* menu)
{
    menu->popup(QPoint(0, 0));
    const QList<QAction*> entries = menu->actions();
    menu->hide();
    return entries;
}

QImage TestPictures::iconImage(const QIcon& icon)
{
    return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage TestPictures::resourceIcon(const QString& path)
{
    return iconImage(QIcon(path));
}

QImage TestPictures::resourcePicture(const QString& path)
{
    return QPixmap(path).toImage().convertToFormat(QImage::Format_ARGB32);
}

QImage GuiTestBase::iconImage(const QIcon& icon)
{
    return TestPictures::iconImage(icon);
}

QImage GuiTestBase::resourceIcon(const QString& path)
{
    return TestPictures::resourceIcon(path);
}

QImage GuiTestBase::resourcePicture(const QString& path)
{
    return TestPictures::resourcePicture(path);
}

QImage GuiTestBase::labelPicture(const QLabel* label)
{
    return label->pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}
