#pragma once

// The sheet that asks which files of dropped folders are projects: every file or only some types, and
// whether subfolders are looked in. It deletes itself when closed.

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QLineEdit;
class QRadioButton;

class QFImportSheet final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFImportSheet)
public:
    // folders: what was dropped (named in the title); the choices shown first come from the caller.
    QFImportSheet(const QStringList &folders, bool onlyTypes, const QString &types, bool subfolders, QWidget *parent);

    bool onlyTypes() const;
    // The types as typed, trimmed.
    QString typesText() const;
    // The types, each trimmed and in lower case.
    QStringList types() const;
    bool subfolders() const;

private:
    QRadioButton *m_some;
    QLineEdit *m_types;
    QCheckBox *m_subfolders;
};
