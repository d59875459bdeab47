#include "app/QFImportSheet.h"

#include "foundation/platform/QFFormat.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

QFImportSheet::QFImportSheet(
    const QStringList &folders, bool onlyTypes, const QString &types, bool subfolders, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("importSheet"));
    setWindowTitle(QStringLiteral("Import Folder"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    auto *title
        = new QLabel(folders.size() == 1 ? qfFormat("Add the projects in %@", QFileInfo(folders.first()).fileName())
                                         : qfFormat("Add the projects in %i folders", int(folders.size())));
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    auto *every = new QRadioButton(QStringLiteral("Every file"));
    m_some = new QRadioButton(QStringLiteral("Only files of these types:"));
    m_some->setObjectName(QStringLiteral("importFolderAction"));
    m_types = new QLineEdit(types);
    m_types->setObjectName(QStringLiteral("importFileTypes"));
    (onlyTypes ? m_some : every)->setChecked(true);
    m_subfolders = new QCheckBox(QStringLiteral("Look in subfolders"));
    m_subfolders->setObjectName(QStringLiteral("importSubdirs"));
    m_subfolders->setChecked(subfolders);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(8);
    layout->addWidget(new QLabel(QStringLiteral("Which files of the folder are projects?")));
    layout->addWidget(every);
    layout->addWidget(m_some);
    auto *typesRow = new QHBoxLayout;
    typesRow->setContentsMargins(24, 0, 0, 0);
    typesRow->addWidget(m_types);
    layout->addLayout(typesRow);
    layout->addSpacing(4);
    layout->addWidget(m_subfolders);
    layout->addSpacing(6);
    setMinimumWidth(440);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    buttons->addButton(QStringLiteral("Import"), QDialogButtonBox::AcceptRole)->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool QFImportSheet::onlyTypes() const
{
    return m_some->isChecked();
}

QString QFImportSheet::typesText() const
{
    return m_types->text().trimmed();
}

QStringList QFImportSheet::types() const
{
    QStringList list;
    for (const QString &type : m_types->text().split(u',', Qt::SkipEmptyParts))
        list << type.trimmed().toLower();
    return list;
}

bool QFImportSheet::subfolders() const
{
    return m_subfolders->isChecked();
}
