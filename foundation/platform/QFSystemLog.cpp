#include "foundation/platform/QFSystemLog.h"

#include <syslog.h>

void qfSystemLog(const QString &message)
{
    const QByteArray text = message.toUtf8();
    syslog(LOG_NOTICE, "%s", text.constData());
}
