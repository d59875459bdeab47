#pragma once

// User notifications through the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Posting never blocks and never fails: without a service nothing is shown. The switch
// "growlDisabled" of com.quenfield.global.plist turns every notification off.

#include <QString>

class QFGrowl final {
public:
    static QFGrowl *sharedController();

    // notificationName: "Backup successful", "Backup failed" …; empty gives "QFInfoNotification".
    // icon: an icon name or image path; empty gives the application's icon.
    void postGrowlNotification(const QString &title, const QString &description, const QString &icon = QString(),
        const QString &notificationName = QString());

    // The name the notifications are posted under: the bundle's name, else the executable's.
    QString applicationNameForGrowl() const;

    Q_DISABLE_COPY_MOVE(QFGrowl)

private:
    QFGrowl() = default;
};
