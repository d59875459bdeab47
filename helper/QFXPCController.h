#pragma once

// The root object of the helper's session-bus service (com.quenfield.ProTombrelHelper, object "/"): the
// requests of the other programs, handled on the helper's main thread. The caller's reply waits until
// the handler returns, so updateConfiguration answers once the whole set-up has run.

#include <QObject>

class QFXPCControllerDelegate {
public:
    virtual ~QFXPCControllerDelegate() = default;
    virtual void setup() = 0;
    virtual void beginScheduledBackup() = 0;
};

class QFXPCController final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.quenfield.ProTombrelHelper")

public:
    explicit QFXPCController(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(QFXPCController)

    // Not owned.
    QFXPCControllerDelegate *delegate() const { return m_delegate; }
    void setDelegate(QFXPCControllerDelegate *delegate) { m_delegate = delegate; }

public Q_SLOTS:
    void updateConfiguration();
    void startBackupScan();
    void filesBackedUp();

private:
    QFXPCControllerDelegate *m_delegate = nullptr;
};
