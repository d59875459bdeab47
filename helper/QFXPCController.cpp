#include "helper/QFXPCController.h"

#include "foundation/QFException.h"
#include "foundation/QFHelperConnection.h"

QFXPCController::QFXPCController(QObject *parent)
    : QObject(parent)
{
}

void QFXPCController::updateConfiguration()
{
    if (m_delegate)
        QFException::guard("updateConfiguration", [this] { m_delegate->setup(); });
}

void QFXPCController::startBackupScan()
{
    if (m_delegate)
        QFException::guard("startBackupScan", [this] { m_delegate->beginScheduledBackup(); });
}

void QFXPCController::filesBackedUp()
{
    QFHelperConnection::postFilesBackedUp();
}
