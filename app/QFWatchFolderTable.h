#pragma once

// One watch-folder list of the preferences (watchFolders or watchDriveFolders) as a two-column table,
// folder and extensions, edited in place, with add and remove buttons and a menu of presets. Every
// change is stored at once; changed() then tells the controller, which tells the helper.

#include "engine/QFWatchFolderSettings.h"

#include <QWidget>

class QTableWidget;
class QTableWidgetItem;
class QToolButton;
class QFileDialog;

class QFWatchFolderTable final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFWatchFolderTable)
public:
    struct Preset {
        QString title;
        QString folder;
        QString extensions;
    };

    explicit QFWatchFolderTable(QFWatchFolderSettings::List list, QWidget *parent = nullptr);

    // The presets of a list: the editors' usual folders under the user's Documents and Videos folders,
    // or relative to every drive's root.
    static QList<Preset> presets(QFWatchFolderSettings::List list);

    QTableWidget *table() const { return m_table; }
    QToolButton *addButton() const { return m_add; }
    QToolButton *removeButton() const { return m_remove; }
    QToolButton *presetButton() const { return m_presets; }
    // Reads the list from the preference file again.
    void reload();
    // A cell being edited stores what was typed in it.
    void commitEdit();

Q_SIGNALS:
    // The list in the preference file changed.
    void changed();

private:
    void addFolder();
    void folderChosen(const QString &path);
    void removeSelected();
    void appendPreset(const Preset &preset);
    void itemEdited(QTableWidgetItem *item);
    void report(const QString &error);
    void editCell(int row, int column);

    QFWatchFolderSettings::List m_list;
    QList<QVariantMap> m_shown;
    QTableWidget *m_table;
    QToolButton *m_add;
    QToolButton *m_remove;
    QToolButton *m_presets;
    bool m_loading = false;
};
