#pragma once

// The sheet that lists what changed from one version to another, one change line a row with its icon.
// It deletes itself when closed.

#include <QDialog>

class QFComparisonSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFComparisonSheet)
public:
    // older, newer: the two versions' numbers; lines: the change lines (none: "No change").
    QFComparisonSheet(qint64 older, qint64 newer, const QStringList &lines, QWidget *parent);
};
