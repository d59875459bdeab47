#include "app/QFPrefController.h"

#include "app/AppController.h"
#include "app/QFAppImages.h"
#include "app/QFPrefLayout.h"
#include "app/QFSoftwareUpdate.h"
#include "app/QFSyncPane.h"
#include "app/QFWatchFolderTable.h"
#include "engine/QFPreferenceKeys.h"
#include "engine/QFPreferenceSnapshot.h"
#include "engine/QFProject.h"
#include "foundation/QFAlert.h"
#include "foundation/QFAppleEvents.h"
#include "foundation/QFException.h"
#include "foundation/QFLocalPaths.h"
#include "foundation/QFLog.h"
#include "foundation/platform/QFPropertyList.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

using namespace qfpref;

namespace {

constexpr int kLargestShownNumber = 99999;

} // namespace

// --- Bindings -----------------------------------------------------------------------------------------

void QFPrefController::store(const QString &key, const QVariant &value)
{
    QString error;
    if (!QFPreferenceKeys::update({ { key, value } }, {}, &error)) {
        QFLog::appendLog("Unable to save preferences: %@", error);
        QFAlert::alertSheetWithMessageText(
            QStringLiteral("Unable to save preferences"), QString(), QString(), QString(), error, this, false);
        loadValues();
    }
}

QCheckBox *QFPrefController::switchBox(const QString &key, const QString &title, const std::function<void()> &after)
{
    auto *box = new QCheckBox(title);
    box->setObjectName(key);
    const bool boolean
        = QFPreferenceKeys::find(key) && QFPreferenceKeys::find(key)->type == QFPreferenceKey::Type::Boolean;
    m_loaders << [box, key, boolean] {
        const QFPreferenceSnapshot prefs = QFPreferenceSnapshot::read();
        box->setChecked(boolean ? prefs.boolValue(key) : prefs.intValue(key) == 1);
    };
    connect(box, &QCheckBox::toggled, this, [this, key, boolean, after](bool on) {
        if (m_loading)
            return;
        store(key, boolean ? QVariant(on) : QVariant(qint64(on ? 1 : 0)));
        if (after)
            after();
    });
    return box;
}

QSpinBox *QFPrefController::integerBox(const QString &key, const QString &suffix, const std::function<void()> &after)
{
    auto *box = new QSpinBox;
    box->setObjectName(key);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);
    box->setAccelerated(true);
    box->setMaximumWidth(suffix.isEmpty() ? 90 : 130);
    if (const auto known = QFPreferenceKeys::find(key)) {
        box->setRange(int(std::clamp<qint64>(known->minimum, 0, kLargestShownNumber)),
            int(std::clamp<qint64>(known->maximum, 1, kLargestShownNumber)));
    } else {
        box->setRange(0, kLargestShownNumber);
    }
    m_loaders <<
        [box, key] { box->setValue(int(std::clamp<qint64>(integerValue(key), box->minimum(), box->maximum()))); };
    // Typed digits count once interpreted (Return, leaving the box, or closing the window).
    m_committers << [box] { box->interpretText(); };
    connect(box, &QSpinBox::valueChanged, this, [this, key, after](int value) {
        if (m_loading)
            return;
        store(key, qint64(value));
        if (after)
            after();
    });
    return box;
}

QComboBox *QFPrefController::choiceBox(
    const QString &key, const QStringList &titles, const std::function<void()> &after)
{
    auto *box = new QComboBox;
    box->setObjectName(key);
    box->addItems(titles);
    m_loaders << [box, key] {
        const qint64 value = integerValue(key);
        box->setCurrentIndex(value >= 0 && value < box->count() ? int(value) : 0);
    };
    connect(box, &QComboBox::currentIndexChanged, this, [this, key, after](int index) {
        if (m_loading || index < 0)
            return;
        store(key, qint64(index));
        if (after)
            after();
    });
    return box;
}

QLineEdit *QFPrefController::textField(const QString &key)
{
    auto *field = new QLineEdit;
    field->setObjectName(key);
    m_loaders << [field, key] { field->setText(AppController::preferenceValue(key).toString()); };
    const auto commit = [this, field, key] {
        if (!m_loading && field->text() != AppController::preferenceValue(key).toString())
            store(key, field->text().trimmed());
    };
    connect(field, &QLineEdit::editingFinished, this, commit);
    m_committers << commit;
    return field;
}

void QFPrefController::loadValues()
{
    m_loading = true;
    for (const std::function<void()> &load : std::as_const(m_loaders))
        load();
    m_loading = false;
}
