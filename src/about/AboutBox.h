#pragma once

#include <QDialog>

class QLabel;
class QPixmap;
class QTabWidget;
class QTextEdit;

class AboutBox : public QDialog
{
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent = nullptr);

    void setAboutPixmap(const QPixmap& pixmap);
    void setAboutText(const QString& text);
    void setHelpPixmap(const QPixmap& pixmap);
    void setHelpText(const QString& text);
    void setLicenseHtml(const QString& html);
    void setThanksPixmap(const QPixmap& pixmap);
    void setThanksText(const QString& text);
    void setUpdatePixmap(const QPixmap& pixmap);
    void setUpdateText(const QString& text);

public Q_SLOTS:
    void setActiveAbout();
    void setActiveHelp();
    void setActiveLicense();
    void setActiveThanks();
    void setActiveUpdate();
};
