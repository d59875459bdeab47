#include "app/QFComparisonSheet.h"

#include "app/QFAppImages.h"
#include "engine/QFTombrelBackup.h"
#include "foundation/platform/QFFormat.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

QFComparisonSheet::QFComparisonSheet(qint64 older, qint64 newer, const QStringList &lines, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("comparisonSheet"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(
        qfFormat("Version %@ to Version %@", QFTombrelBackup::padNumber(older), QFTombrelBackup::padNumber(newer)));
    resize(560, 380);
    auto *layout = new QVBoxLayout(this);
    auto *heading
        = new QLabel(qfFormat("What changed from Version %@ to Version %@:", QFTombrelBackup::padNumber(older),
            QFTombrelBackup::padNumber(newer)));
    auto *list = new QListWidget;
    list->setObjectName(QStringLiteral("comparisonLines"));
    for (const QString &line : lines)
        list->addItem(new QListWidgetItem(QFAppImages::iconForChangeLine(line), line));
    if (lines.isEmpty())
        list->addItem(QStringLiteral("No change"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(heading);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
}
