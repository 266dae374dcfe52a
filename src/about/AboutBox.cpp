#include "AboutBox.h"

#include <QPixmap>

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(tr("About"));
}

void AboutBox::setAboutPixmap(const QPixmap&) {}
void AboutBox::setAboutText(const QString&) {}
void AboutBox::setHelpPixmap(const QPixmap&) {}
void AboutBox::setHelpText(const QString&) {}
void AboutBox::setLicenseHtml(const QString&) {}
void AboutBox::setThanksPixmap(const QPixmap&) {}
void AboutBox::setThanksText(const QString&) {}
void AboutBox::setUpdatePixmap(const QPixmap&) {}
void AboutBox::setUpdateText(const QString&) {}
void AboutBox::setActiveAbout() {}
void AboutBox::setActiveHelp() {}
void AboutBox::setActiveLicense() {}
void AboutBox::setActiveThanks() {}
void AboutBox::setActiveUpdate() {}
