#pragma once

// The version list's outline. Space asks for the screenshot preview; Backspace or Delete asks to delete
// the selected version, and with Ctrl the whole project. A context click selects the row under the
// pointer first; the menu is offered only over a version row. Row heights follow the column width.

#include <QStyledItemDelegate>
#include <QTreeView>

class QFOutlineView final : public QTreeView {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFOutlineView)
public:
    explicit QFOutlineView(QWidget *parent = nullptr);

Q_SIGNALS:
    void contextMenuRequestedForVersion(const QModelIndex &index, const QPoint &globalPosition);
    // The button of a version's missing XML copy was pressed.
    void placeholderClicked(const QModelIndex &index);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// Paints version rows (icon, bold title, subtitle; 50 high) and their note and change lines (18 high,
// taller for long lines that wrap).
class QFVersionItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFVersionItemDelegate)
public:
    explicit QFVersionItemDelegate(QTreeView *view);

    static constexpr int kVersionRowHeight = 50;
    static constexpr int kLineRowHeight = 18;
    // Lines shorter than this never wrap; longer ones are measured.
    static constexpr int kLongLine = 70;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int textWidthFor(const QModelIndex &index) const;
    QTreeView *m_view;
};
