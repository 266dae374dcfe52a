#include "AboutBox.h"

#include "profiles/RegularFile.h"

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(tr("About"));
    setMinimumHeight(500);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("aboutTabs"));
    m_tabs->setTabPosition(QTabWidget::East);

    m_aboutPage = createPage("about", &m_aboutPicture, &m_aboutText);
    m_helpPage = createPage("help", &m_helpPicture, &m_helpText);
    m_licenseView = new QTextEdit(this);
    m_licenseView->setObjectName(QStringLiteral("licenseView"));
    m_licenseView->setAccessibleName(tr("License"));
    // Set before any HTML, so it is the family of whatever the page itself does not style.
    m_licenseView->setFontFamily(QStringLiteral("Sans Serif"));
    m_thanksPage = createPage("thanks", &m_thanksPicture, &m_thanksText);
    m_updatePage = createPage("update", &m_updatePicture, &m_updateText);

    m_tabs->addTab(m_aboutPage, tr("About"));
    m_tabs->addTab(m_helpPage, tr("Help"));
    m_tabs->addTab(m_licenseView, tr("License"));
    m_tabs->addTab(m_thanksPage, tr("Thanks"));
    m_tabs->addTab(m_updatePage, tr("Updates"));

    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_tabs, 0, 0);
    grid->addWidget(okButton, 1, 0, Qt::AlignRight);
}

QWidget* AboutBox::createPage(const char* name, QLabel** picture, QLabel** text)
{
    const QString prefix = QLatin1String(name);
    auto* page = new QWidget(this);
    page->setObjectName(prefix + QLatin1String("Page"));
    *picture = new QLabel(page);
    (*picture)->setObjectName(prefix + QLatin1String("Picture"));
    *text = new QLabel(page);
    (*text)->setObjectName(prefix + QLatin1String("Text"));
    (*text)->setTextFormat(Qt::RichText);
    (*text)->setWordWrap(true);
    (*text)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    (*text)->setOpenExternalLinks(true);

    auto* grid = new QGridLayout(page);
    grid->addWidget(*picture, 0, 0, Qt::AlignTop);
    grid->addWidget(*text, 1, 0);
    grid->setRowStretch(1, 1);
    return page;
}

QString AboutBox::readLicenseHtml(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return RegularFile::latin1UpToNul(file.readAll());
}

void AboutBox::setAboutPixmap(const QPixmap& pixmap)
{
    m_aboutPicture->setPixmap(pixmap);
}

void AboutBox::setAboutText(const QString& text)
{
    m_aboutText->setText(text);
}

void AboutBox::setHelpPixmap(const QPixmap& pixmap)
{
    m_helpPicture->setPixmap(pixmap);
}

void AboutBox::setHelpText(const QString& text)
{
    m_helpText->setText(text);
}

void AboutBox::setLicenseHtml(const QString& html)
{
    m_licenseView->setHtml(html);
}

void AboutBox::setThanksPixmap(const QPixmap& pixmap)
{
    m_thanksPicture->setPixmap(pixmap);
}

void AboutBox::setThanksText(const QString& text)
{
    m_thanksText->setText(text);
}

void AboutBox::setUpdatePixmap(const QPixmap& pixmap)
{
    m_updatePicture->setPixmap(pixmap);
}

void AboutBox::setUpdateText(const QString& text)
{
    m_updateText->setText(text);
}

void AboutBox::setActiveAbout()
{
    m_tabs->setCurrentWidget(m_aboutPage);
}

void AboutBox::setActiveHelp()
{
    m_tabs->setCurrentWidget(m_helpPage);
}

void AboutBox::setActiveLicense()
{
    m_tabs->setCurrentWidget(m_licenseView);
}

void AboutBox::setActiveThanks()
{
    m_tabs->setCurrentWidget(m_thanksPage);
}

void AboutBox::setActiveUpdate()
{
    m_tabs->setCurrentWidget(m_updatePage);
}
