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

    QTabWidget* m_tabs = nullptr;
    QWidget* m_aboutPage = nullptr;
    QLabel* m_aboutPicture = nullptr;
    QLabel* m_aboutText = nullptr;
    QWidget* m_helpPage = nullptr;
    QLabel* m_helpPicture = nullptr;
    QLabel* m_helpText = nullptr;
    QTextEdit* m_licenseView = nullptr;
    QWidget* m_thanksPage = nullptr;
    QLabel* m_thanksPicture = nullptr;
    QLabel* m_thanksText = nullptr;
    QWidget* m_updatePage = nullptr;
    QLabel* m_updatePicture = nullptr;
    QLabel* m_updateText = nullptr;
};
