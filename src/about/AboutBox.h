#pragma once

#include <QDialog>

class QLabel;
class QPixmap;
class QPushButton;
class QTabWidget;
class QTextEdit;

// Built empty; the main window fills the pages once and afterwards only picks a tab and shows it.
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

    // The licence page as stored: bytes up to the first NUL, taken as Latin-1. Empty when the
    // file cannot be read.
    static QString readLicenseHtml(const QString& path = QStringLiteral(":LICENSE"));

public Q_SLOTS:
    void setActiveAbout();
    void setActiveHelp();
    void setActiveLicense();
    void setActiveThanks();
    void setActiveUpdate();

private:
    QWidget* createPage(const char* name, QLabel** picture, QLabel** text);

    QTabWidget* tabs = nullptr;
    QWidget* aboutPage = nullptr;
    QLabel* aboutPicture = nullptr;
    QLabel* aboutText = nullptr;
    QWidget* helpPage = nullptr;
    QLabel* helpPicture = nullptr;
    QLabel* helpText = nullptr;
    QTextEdit* licenseView = nullptr;
    QWidget* thanksPage = nullptr;
    QLabel* thanksPicture = nullptr;
    QLabel* thanksText = nullptr;
    QWidget* updatePage = nullptr;
    QLabel* updatePicture = nullptr;
    QLabel* updateText = nullptr;
};
