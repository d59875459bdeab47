#include "helper/QFXPCController.h"

#include "foundation/QFException.h"
#include "foundation/QFHelperConnection.h"

#include <QThread>

namespace {

// A caller in this very process may be served on its own thread; the delegate lives on the main thread.
template <typename Work> void onOwnThread(QObject *object, Work work)
{
    if (QThread::currentThread() == object->thread())
        work();
    else
        QMetaObject::invokeMethod(object, work, Qt::BlockingQueuedConnection);
}

} // namespace

QFXPCController::QFXPCController(QObject *parent)
    : QObject(parent)
{
}

void QFXPCController::updateConfiguration()
{
    onOwnThread(this, [this] {
        if (m_delegate)
            QFException::guard("updateConfiguration", [this] { m_delegate->setup(); });
    });
}

void QFXPCController::startBackupScan()
{
    onOwnThread(this, [this] {
        if (m_delegate)
            QFException::guard("startBackupScan", [this] { m_delegate->beginScheduledBackup(); });
    });
}

void QFXPCController::filesBackedUp()
{
    QFHelperConnection::postFilesBackedUp();
}
