#include "AboutBox.h"

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

    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("aboutTabs"));
    tabs->setTabPosition(QTabWidget::East);

    aboutPage = createPage("about", &aboutPicture, &aboutText);
    helpPage = createPage("help", &helpPicture, &helpText);
    licenseView = new QTextEdit(this);
    licenseView->setObjectName(QStringLiteral("licenseView"));
    licenseView->setAccessibleName(tr("License"));
    // Set before any HTML, so it is the family of whatever the page itself does not style.
    licenseView->setFontFamily(QStringLiteral("Sans Serif"));
    thanksPage = createPage("thanks", &thanksPicture, &thanksText);
    updatePage = createPage("update", &updatePicture, &updateText);

    tabs->addTab(aboutPage, tr("About"));
    tabs->addTab(helpPage, tr("Help"));
    tabs->addTab(licenseView, tr("License"));
    tabs->addTab(thanksPage, tr("Thanks"));
    tabs->addTab(updatePage, tr("Updates"));

    auto* okButton = new QPushButton(tr("OK"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->addWidget(tabs, 0, 0);
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
    const QByteArray bytes = file.readAll();
    const qsizetype nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

void AboutBox::setAboutPixmap(const QPixmap& pixmap)
{
    aboutPicture->setPixmap(pixmap);
}

void AboutBox::setAboutText(const QString& text)
{
    aboutText->setText(text);
}

void AboutBox::setHelpPixmap(const QPixmap& pixmap)
{
    helpPicture->setPixmap(pixmap);
}

void AboutBox::setHelpText(const QString& text)
{
    helpText->setText(text);
}

void AboutBox::setLicenseHtml(const QString& html)
{
    licenseView->setHtml(html);
}

void AboutBox::setThanksPixmap(const QPixmap& pixmap)
{
    thanksPicture->setPixmap(pixmap);
}

void AboutBox::setThanksText(const QString& text)
{
    thanksText->setText(text);
}

void AboutBox::setUpdatePixmap(const QPixmap& pixmap)
{
    updatePicture->setPixmap(pixmap);
}

void AboutBox::setUpdateText(const QString& text)
{
    updateText->setText(text);
}

void AboutBox::setActiveAbout()
{
    tabs->setCurrentWidget(aboutPage);
}

void AboutBox::setActiveHelp()
{
    tabs->setCurrentWidget(helpPage);
}

void AboutBox::setActiveLicense()
{
    tabs->setCurrentWidget(licenseView);
}

void AboutBox::setActiveThanks()
{
    tabs->setCurrentWidget(thanksPage);
}

void AboutBox::setActiveUpdate()
{
    tabs->setCurrentWidget(updatePage);
}
