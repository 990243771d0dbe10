#include "PlanMap.h"

#include <QGraphicsPathItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QHash>
#include <QMouseEvent>

using namespace vistrel;

namespace {

constexpr std::size_t kPlainDrawingFrom = 5000;

QPainterPath parcelPath(const PlanFrame& frame)
{
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);  // holes stay open
    for (const PlanRing& ring : frame.rings) {
        if (ring.points.empty())
            continue;
        QPolygonF polygon;
        for (const RingPoint& point : ring.points)
            polygon.append(QPointF(point.x, point.y));
        path.addPolygon(polygon);
        path.closeSubpath();
    }
    return path;
}

QPen cosmeticPen(const QColor& colour)
{
    QPen pen(colour);
    pen.setCosmetic(true);  // one pixel at any zoom
    return pen;
}

}  // namespace

PlanMap::PlanMap(QWidget* parent) : QGraphicsView(parent)
{
    setScene(new QGraphicsScene(this));
    setRenderHint(QPainter::Antialiasing);
    // North up: the scene's y grows downwards.
    setTransform(QTransform::fromScale(1, -1));
    setBackgroundBrush(palette().base());
    setMinimumSize(80, 40);
}

QColor PlanMap::overlapColour(PlanOverlap overlap)
{
    switch (overlap) {
    case PlanOverlap::Over: return QColor(0x2e, 0x7d, 0x32);
    case PlanOverlap::Partly: return QColor(0xef, 0x6c, 0x00);
    case PlanOverlap::Outside: return QColor(0xc6, 0x28, 0x28);
    case PlanOverlap::Unusable: break;
    }
    return QColor(0x75, 0x75, 0x75);
}

QColor PlanMap::resultColour(FrameResult result)
{
    switch (result) {
    case FrameResult::Written: return QColor(0x2e, 0x7d, 0x32);
    case FrameResult::Hidden: return QColor(0xef, 0x6c, 0x00);
    case FrameResult::Skipped: return QColor(0x15, 0x65, 0xc0);
    case FrameResult::Failed: return QColor(0xc6, 0x28, 0x28);
    case FrameResult::NotDone: break;
    }
    return QColor(0x9e, 0x9e, 0x9e);
}

void PlanMap::showPlan(const PlanData& plan)
{
    scene()->clear();
    m_parcels.clear();
    m_names.clear();
    m_overlaps.clear();
    m_rows.clear();
    const QBrush tileBrush(palette().mid().color().lighter(130));
    for (const PlanTile& tile : plan.tiles) {
        const PlanExtent& f = tile.footprint;
        scene()->addRect(QRectF(QPointF(f.x0, f.y0), QPointF(f.x1, f.y1)).normalized(),
                         cosmeticPen(palette().mid().color()), tileBrush);
    }
    // A county of parcels is drawn plainly (no smoothing, no outlines), so
    // that it still pans and repaints at once.
    const bool large = plan.frames.size() > kPlainDrawingFrom;
    setRenderHint(QPainter::Antialiasing, !large);
    for (const PlanFrame& frame : plan.frames) {
        QColor fill = overlapColour(frame.overlap);
        auto* item =
            scene()->addPath(parcelPath(frame), large ? QPen(Qt::NoPen) : cosmeticPen(fill.darker(150)), QBrush(fill));
        item->setData(0, int(m_parcels.size()));
        item->setToolTip(QString::fromStdString(frame.name));
        m_parcels.push_back(item);
        m_names.push_back(QString::fromStdString(frame.name));
        m_overlaps.push_back(frame.overlap);
        m_rows.emplace_back();
    }
    fitPlan();
}

void PlanMap::showResults(const std::vector<ReportRow>& rows)
{
    QHash<QString, int> used;  // rows taken per name
    for (std::size_t i = 0; i < m_parcels.size(); ++i) {
        const QString& name = m_names[i];
        int skip = used.value(name);
        for (const ReportRow& row : rows) {
            if (row.name != name || skip-- > 0)
                continue;
            used[name] += 1;
            m_rows[i] = row;
            const bool partly = row.result == FrameResult::Written && m_overlaps[i] == PlanOverlap::Partly;
            const QColor fill = resultColour(partly ? FrameResult::Hidden : row.result);
            m_parcels[i]->setBrush(fill);
            if (m_parcels[i]->pen().style() != Qt::NoPen)
                m_parcels[i]->setPen(cosmeticPen(fill.darker(150)));
            m_parcels[i]->setToolTip(name + QStringLiteral("：") + row.text);
            break;
        }
    }
}

QColor PlanMap::parcelColour(int parcel) const
{
    return m_parcels.at(std::size_t(parcel))->brush().color();
}

const ReportRow* PlanMap::reportRow(int parcel) const
{
    const auto& row = m_rows.at(std::size_t(parcel));
    return row ? &*row : nullptr;
}

QString PlanMap::parcelName(int parcel) const
{
    return m_names.at(std::size_t(parcel));
}

void PlanMap::fitPlan()
{
    const QRectF bounds = scene()->itemsBoundingRect();
    if (bounds.isEmpty())
        return;
    setSceneRect(bounds);
    fitInView(bounds, Qt::KeepAspectRatio);
}

void PlanMap::resizeEvent(QResizeEvent* event)
{
    QGraphicsView::resizeEvent(event);
    fitPlan();
}

void PlanMap::mousePressEvent(QMouseEvent* event)
{
    for (QGraphicsItem* item : items(event->position().toPoint())) {
        const QVariant parcel = item->data(0);
        if (parcel.isValid()) {
            emit parcelClicked(parcel.toInt());
            return;
        }
    }
    QGraphicsView::mousePressEvent(event);
}
