#pragma once

#include "TestSupport.h"

#include "app/MainWindow.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>

class QAction;
class QIcon;
class QLabel;
class QMenu;

// Pictures in a comparable form, so icons and labels are checked by their pixels; also for the
// suites with fixtures of their own.
// The entries of a menu as a user sees them: opened, which fills a menu made on demand, and
// closed again.
QList<QAction*> openedMenuEntries(QMenu* menu);

namespace TestPictures {
QImage iconImage(const QIcon& icon);
QImage resourceIcon(const QString& path);
QImage resourcePicture(const QString& path);
} // namespace TestPictures

// The common ground of the window tests. Each test function starts in a throw-away home whose
// profile root is the current directory, with every question answered from the prompt queue, and
// a window made by mainWindow() is gone before the home is. A suite with init()/cleanup() of its
// own calls these first and last.
class GuiTestBase : public QObject
{
    Q_OBJECT

public:
    ~GuiTestBase() override;

protected Q_SLOTS:
    void init();
    void cleanup();

protected:
    ScratchHome* home() const { return m_home.get(); }

    // A window over the scratch home, deleted by cleanup(); `shown` waits until it is exposed.
    MainWindow* mainWindow(bool shown = false);
    // The window a start-up run made, found among the top-level widgets.
    static MainWindow* runningMainWindow();

    // Triggers the action the way a user can: only when it exists and is enabled. A failed check
    // is recorded; callers that go on regardless see it in QTest::currentTestFailed().
    static void triggerAction(QAction* action);

    // Pictures in a comparable form, so icons and labels are checked by their pixels.
    static QImage iconImage(const QIcon& icon);
    static QImage resourceIcon(const QString& path);
    static QImage resourcePicture(const QString& path);
    static QImage labelPicture(const QLabel* label);

private:
    std::unique_ptr<ScratchHome> m_home;
    std::unique_ptr<MainWindow> m_window;
};
