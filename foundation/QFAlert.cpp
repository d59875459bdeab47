#include "foundation/QFAlert.h"

#include "foundation/QFLog.h"

#include <QMutex>

namespace {

QMutex s_lock;
QFAlert::Presenter s_presenter;

} // namespace

void QFAlert::setPresenter(Presenter presenter)
{
    QMutexLocker lock(&s_lock);
    s_presenter = std::move(presenter);
}

int QFAlert::alertSheetWithMessageText(
    const QString &messageText, const QString &informativeText, QObject *parentWindow)
{
    return alertSheetWithMessageText(messageText, QString(), QString(), QString(), informativeText, parentWindow, true);
}

int QFAlert::alertSheetWithMessageText(const QString &messageText, const QString &defaultButton,
    const QString &alternateButton, const QString &otherButton, const QString &informativeText, QObject *parentWindow,
    bool block, DidEnd didEnd)
{
    Presenter presenter;
    {
        QMutexLocker lock(&s_lock);
        presenter = s_presenter;
    }
    const Request request { messageText, defaultButton, alternateButton, otherButton, informativeText, parentWindow };
    if (presenter)
        return presenter(request, block, std::move(didEnd));

    // No windows in this program: the log is where the user will look.
    QFLog::appendLog("Alert: %@ %@", messageText, informativeText);
    if (didEnd)
        didEnd(kDefaultReturn);
    return block ? kDefaultReturn : -1;
}
