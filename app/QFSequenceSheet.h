#pragma once

// The sheet that lists the sequences of a Final Cut Pro project while they are read from the editor, with
// a status line and a busy bar until the list or an error comes. It deletes itself when closed.

#include "engine/QFProject.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QProgressBar;

class QFSequenceSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFSequenceSheet)
public:
    explicit QFSequenceSheet(QWidget *parent);

    void setStatus(const QString &text);
    // The reading ended: its sequences are listed to choose from, or its error is shown.
    void showSequences(const QList<QFProjectSequence> &sequences);
    void showError(const QString &error);
    // The sequence chosen in the list, if any.
    std::optional<QFProjectSequence> chosenSequence() const;
    const QList<QFProjectSequence> &sequences() const { return m_sequences; }

private:
    QLabel *m_status;
    QListWidget *m_list;
    QProgressBar *m_progress;
    QList<QFProjectSequence> m_sequences;
};
