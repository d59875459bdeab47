#pragma once

// The sheet that edits the note of one version; the note field has the focus once the sheet is open.
// It deletes itself when closed.

#include <QDialog>

class QPlainTextEdit;

class QFAnnotateSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFAnnotateSheet)
public:
    QFAnnotateSheet(const QString &version, const QString &note, QWidget *parent);

    QString note() const;
    void open() override;

private:
    QPlainTextEdit *m_text;
};
