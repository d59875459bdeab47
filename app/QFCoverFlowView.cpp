#include "app/QFCoverFlowView.h"

#include "app/QFAppImages.h"

#include <QImageReader>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMarginBelowItems = 40;
constexpr int kVisibleOnEachSide = 6;
constexpr double kSideAngle = 58.0;
constexpr int kCacheKilobytes = 96 * 1024;

} // namespace

QFCoverFlowView::QFCoverFlowView(QWidget *parent)
    : QWidget(parent)
    , m_animation(new QVariantAnimation(this))
    , m_cache(kCacheKilobytes)
{
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(120);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_animation->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_position = value.toDouble();
        update();
    });
    connect(m_animation, &QVariantAnimation::finished, this, [this] { Q_EMIT scrollingStopped(currentIndex()); });
}

void QFCoverFlowView::setItems(const QList<Item> &items)
{
    m_animation->stop();
    m_items = items;
    m_position = 0;
    update();
}

void QFCoverFlowView::insertItemsAtFront(const QList<Item> &newestFirst)
{
    m_items = newestFirst + m_items;
    // The item in view stays in view; a strip at its start shows the newest item.
    if (m_position > 0.01 || m_animation->state() == QAbstractAnimation::Running)
        m_position += double(newestFirst.size());
    update();
}

int QFCoverFlowView::currentIndex() const
{
    if (m_items.isEmpty())
        return -1;
    return std::clamp(int(std::lround(m_position)), 0, int(m_items.size()) - 1);
}

bool QFCoverFlowView::isScrolling() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void QFCoverFlowView::scrollToIndex(int index, int durationMs)
{
    if (m_items.isEmpty())
        return;
    index = std::clamp(index, 0, int(m_items.size()) - 1);
    m_animation->stop();
    if (durationMs <= 0 || std::abs(m_position - index) < 0.001) {
        m_position = index;
        update();
        Q_EMIT scrollingStopped(index);
        return;
    }
    m_animation->setStartValue(m_position);
    m_animation->setEndValue(double(index));
    m_animation->setDuration(durationMs);
    m_animation->start();
}

QSize QFCoverFlowView::itemBounds() const
{
    const int side = std::max(16, height() - kMarginBelowItems);
    return { side * 4 / 3, side };
}

const QImage *QFCoverFlowView::imageFor(int index)
{
    const QSize bounds = itemBounds();
    const QString path = m_items.at(index).imagePath;
    const QString key = path + u'@' + QString::number(bounds.height());
    if (QImage *cached = m_cache.object(key))
        return cached;
    QImage image;
    if (!path.isEmpty()) {
        // Decoding at the size shown keeps a 1024-wide capture to the few hundred kilobytes it occupies.
        QImageReader reader(path);
        reader.setAutoTransform(true);
        QSize size = reader.size();
        if (size.isValid()) {
            size.scale(bounds, Qt::KeepAspectRatio);
            reader.setScaledSize(size);
        }
        image = reader.read();
    }
    if (image.isNull()) {
        if (m_page.isNull() || m_page.height() != bounds.height())
            m_page = QFAppImages::pageImage(bounds);
        return &m_page;
    }
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int cost = std::max<int>(1, int(image.sizeInBytes() / 1024));
    auto *held = new QImage(std::move(image));
    m_cache.insert(key, held, cost);
    return m_cache.object(key);
}

QFCoverFlowView::Placement QFCoverFlowView::placementFor(int index, const QSize &imageSize) const
{
    const double offset = index - m_position;
    const double distance = std::abs(offset);
    const double side = offset < 0 ? -1.0 : 1.0;
    const double itemWidth = itemBounds().width();
    // The centred item stands alone; the others stack closely beside it.
    const double firstStep = itemWidth * 0.62;
    const double nextStep = itemWidth * 0.16;
    const double shift = distance <= 1 ? distance * firstStep : firstStep + (distance - 1) * nextStep;
    const double angle = -side * std::min(distance, 1.0) * kSideAngle;
    const double scale = 1.0 - std::min(distance, 1.0) * 0.18;

    const double baseline = height() - kMarginBelowItems * 0.5;
    Placement placement;
    placement.offset = offset;
    placement.rect = QRectF(-imageSize.width() / 2.0, -imageSize.height(), imageSize.width(), imageSize.height());
    placement.transform.translate(width() / 2.0 + side * shift, baseline);
    placement.transform.rotate(angle, Qt::YAxis);
    placement.transform.scale(scale, scale);
    return placement;
}

void QFCoverFlowView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // A dark stage in light and dark themes alike: screenshots read best on it.
    QLinearGradient stage(0, 0, 0, height());
    stage.setColorAt(0, QColor(0x2b, 0x2d, 0x31));
    stage.setColorAt(1, QColor(0x12, 0x13, 0x15));
    painter.fillRect(rect(), stage);
    if (m_items.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setRenderHint(QPainter::Antialiasing);

    const int centre = currentIndex();
    const int first = std::max(0, centre - kVisibleOnEachSide);
    const int last = std::min(int(m_items.size()) - 1, centre + kVisibleOnEachSide);
    // Farthest first, so that nearer items cover them.
    std::vector<int> order;
    for (int i = first; i <= last; ++i)
        order.push_back(i);
    std::sort(order.begin(), order.end(),
        [this](int a, int b) { return std::abs(a - m_position) > std::abs(b - m_position); });

    QFont labelFont = font();
    labelFont.setPixelSize(25);
    labelFont.setBold(true);
    for (int index : order) {
        const QImage *image = imageFor(index);
        if (!image)
            continue;
        const Placement placement = placementFor(index, image->size());
        // Filtering in perspective is the cost of a paint; the receding items are small and dimmed
        // enough to do without it.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, std::abs(placement.offset) < 1.0);
        painter.setTransform(placement.transform);
        painter.setOpacity(std::max(0.25, 1.0 - std::max(0.0, std::abs(placement.offset) - 1) * 0.13));
        painter.drawImage(placement.rect, *image);
        painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(placement.rect);

        // The version number, white on a soft black shadow, near the bottom of the item.
        painter.setFont(labelFont);
        const QRectF labelRect(placement.rect.left(), placement.rect.bottom() - 15 - 30, placement.rect.width(), 30);
        painter.setPen(QColor(0, 0, 0, 110));
        for (const QPointF shadow : { QPointF(1, 1), QPointF(2, 2), QPointF(1, 2) })
            painter.drawText(labelRect.translated(shadow), Qt::AlignHCenter | Qt::AlignBottom, m_items.at(index).label);
        painter.setPen(Qt::white);
        painter.drawText(labelRect, Qt::AlignHCenter | Qt::AlignBottom, m_items.at(index).label);
    }
    painter.resetTransform();
    painter.setOpacity(1);
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(rect().adjusted(1, 1, -1, -1));
    }
}

int QFCoverFlowView::indexAt(const QPointF &point)
{
    if (m_items.isEmpty())
        return -1;
    const int centre = currentIndex();
    // Nearest items are on top: test them first.
    std::vector<int> order;
    for (int i = std::max(0, centre - kVisibleOnEachSide);
         i <= std::min(int(m_items.size()) - 1, centre + kVisibleOnEachSide); ++i)
        order.push_back(i);
    std::sort(order.begin(), order.end(),
        [this](int a, int b) { return std::abs(a - m_position) < std::abs(b - m_position); });
    for (int index : order) {
        const QImage *image = imageFor(index);
        const Placement placement = placementFor(index, image->size());
        if (placement.transform.map(QPolygonF(placement.rect)).containsPoint(point, Qt::OddEvenFill))
            return index;
    }
    return -1;
}

void QFCoverFlowView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    const int index = indexAt(event->position());
    if (index >= 0 && index != currentIndex())
        scrollToIndex(index, int(500 / m_scrollSpeed));
}

void QFCoverFlowView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int index = indexAt(event->position());
    if (index >= 0)
        Q_EMIT itemActivated(index);
}

void QFCoverFlowView::wheelEvent(QWheelEvent *event)
{
    const QPoint delta = event->angleDelta();
    const int steps = (std::abs(delta.x()) > std::abs(delta.y()) ? -delta.x() : -delta.y()) / 120;
    if (steps != 0) {
        const int target = (isScrolling() ? int(m_animation->endValue().toDouble()) : currentIndex()) + steps;
        scrollToIndex(target, int(300 / m_scrollSpeed));
    }
    event->accept();
}

void QFCoverFlowView::keyPressEvent(QKeyEvent *event)
{
    const int from = isScrolling() ? int(m_animation->endValue().toDouble()) : currentIndex();
    switch (event->key()) {
    case Qt::Key_Left:
        scrollToIndex(from - 1, int(300 / m_scrollSpeed));
        break;
    case Qt::Key_Right:
        scrollToIndex(from + 1, int(300 / m_scrollSpeed));
        break;
    case Qt::Key_Home:
        scrollToIndex(0, int(500 / m_scrollSpeed));
        break;
    case Qt::Key_End:
        scrollToIndex(count() - 1, int(500 / m_scrollSpeed));
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (currentIndex() >= 0)
            Q_EMIT itemActivated(currentIndex());
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void QFCoverFlowView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Images are cached at the size shown; a new height decodes them again when they come into view.
    m_cache.clear();
    update();
}
