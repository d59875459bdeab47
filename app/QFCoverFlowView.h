#pragma once

// The screenshot strip: one item per version, the centred one large and its neighbours receding in
// perspective. Images are decoded only when an item comes into view, at the size shown, and kept in a
// bounded cache, so a strip over thousands of versions costs what its visible items cost.

#include <QCache>
#include <QImage>
#include <QWidget>

class QVariantAnimation;

class QFCoverFlowView final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QFCoverFlowView)
public:
    struct Item {
        QString imagePath; // empty or missing: the page placeholder
        QString label;
    };

    explicit QFCoverFlowView(QWidget *parent = nullptr);

    void setItems(const QList<Item> &items);
    void insertItemsAtFront(const QList<Item> &newestFirst);
    int count() const { return int(m_items.size()); }
    // The item nearest the centre.
    int currentIndex() const;
    double position() const { return m_position; }
    bool isScrolling() const;
    // Scrolls so that index is centred, over durationMs (0: at once); scrollingStopped follows.
    void scrollToIndex(int index, int durationMs = 500);
    void setScrollSpeed(double speed) { m_scrollSpeed = speed; }
    // Images decoded so far and still held (for the memory benchmark and tests).
    int cachedImageCount() const { return m_cache.count(); }
    QSize itemBounds() const;

Q_SIGNALS:
    void scrollingStopped(int index);
    void itemActivated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Placement {
        QTransform transform;
        QRectF rect;
        double offset;
    };
    Placement placementFor(int index, const QSize &imageSize) const;
    const QImage *imageFor(int index);
    int indexAt(const QPointF &point);

    QList<Item> m_items;
    double m_position = 0;
    double m_scrollSpeed = 1.0;
    QVariantAnimation *m_animation = nullptr;
    QCache<QString, QImage> m_cache;
    QImage m_page;
};
