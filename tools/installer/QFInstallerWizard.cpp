#include "tools/installer/QFInstallerWizard.h"

#include "tools/installer/PT_MessageViewPane.h"
#include "tools/installer/QFInstaller.h"

#include <QLabel>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QWizardPage *textPage(const QString &title, const QString &text, QLabel **label = nullptr)
{
    auto *page = new QWizardPage;
    page->setTitle(title);
    auto *layout = new QVBoxLayout(page);
    auto *body = new QLabel(text, page);
    body->setWordWrap(true);
    layout->addWidget(body);
    layout->addStretch(1);
    if (label)
        *label = body;
    return page;
}

} // namespace

QFInstallerWizard::QFInstallerWizard(QWidget *parent)
    : QWizard(parent)
{
    setObjectName(QStringLiteral("installerWizard"));
    setWindowTitle(QStringLiteral("Install Pro Tombrel"));
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnLastPage);
    setPage(Welcome,
        textPage(QStringLiteral("Welcome to Pro Tombrel"),
            QStringLiteral("Pro Tombrel keeps numbered versions of your editing projects: it backs up a project "
                           "whenever it changes, shows what changed, and puts any version back.\n\n"
                           "This installer copies Pro Tombrel to your computer.")));
    m_versionCheck = new PT_MessageViewPane;
    setPage(VersionCheck, m_versionCheck);

    auto *destination = new QWizardPage;
    destination->setTitle(QStringLiteral("Destination"));
    auto *layout = new QVBoxLayout(destination);
    m_forMe = new QRadioButton(QStringLiteral("Only for me, in %1").arg(QFInstaller::userDestination()), destination);
    m_forMe->setObjectName(QStringLiteral("forMe"));
    auto *forAll = new QRadioButton(
        QStringLiteral("For everyone on this computer, in %1 (asks for the administrator's password)")
            .arg(QFInstaller::machineDestination()),
        destination);
    forAll->setObjectName(QStringLiteral("forEveryone"));
    m_forMe->setChecked(true);
    layout->addWidget(m_forMe);
    layout->addWidget(forAll);
    layout->addStretch(1);
    setPage(Destination, destination);

    QLabel *installing = nullptr;
    setPage(Install,
        textPage(QStringLiteral("Install"), QStringLiteral("Press Continue to copy Pro Tombrel to the chosen folder."),
            &installing));
    setButtonText(QWizard::NextButton, QStringLiteral("Continue"));
    setPage(Finish, textPage(QStringLiteral("Done"), QString(), &m_result));

    connect(this, &QWizard::currentIdChanged, this, &QFInstallerWizard::onCurrentIdChanged);
}

QString QFInstallerWizard::chosenDestination() const
{
    return m_forMe->isChecked() ? QFInstaller::userDestination() : QFInstaller::machineDestination();
}

void QFInstallerWizard::onCurrentIdChanged(int id)
{
    const bool forwards = id > m_previousId;
    m_previousId = id;
    if (id == VersionCheck && !m_versionCheck->didEnterPane()) {
        // Passed by in the direction of travel.
        QTimer::singleShot(0, this, [this, forwards] { forwards ? next() : back(); });
        return;
    }
    if (id == Finish) {
        QString error;
        const bool installed = QFInstaller::install(chosenDestination(), &error);
        m_result->setText(installed
                ? QStringLiteral(
                    "Pro Tombrel is installed. Find it among your applications, or run tombrel in a terminal.")
                : QStringLiteral("Pro Tombrel could not be installed: %1").arg(error));
    }
}
