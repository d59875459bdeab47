#pragma once

// The sheet shown over the main window during long work: a status line, a bar (running while the amount
// of work is unknown, then counting) and a Cancel button that asks the work to stop before its next step.

#include <QDialog>

#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;

class QFProgressSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFProgressSheet)
public:
    explicit QFProgressSheet(QWidget *parent);

    void start(const QString &status);
    void setDeterminate(int maximum);
    void increment();
    void setStatus(const QString &status);
    void finish();
    // Set by Cancel; the work tests it before each step (from any thread).
    bool isCancelled() const { return m_cancelled; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    QLabel *m_status;
    QProgressBar *m_bar;
    QPushButton *m_cancel;
    std::atomic<bool> m_cancelled { false };
};
