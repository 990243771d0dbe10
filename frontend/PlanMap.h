#pragma once

#include "PlanData.h"
#include "ReportRows.h"

#include <QGraphicsView>

class QGraphicsPathItem;

// A small map of a plan: the model's root tiles (or the grid cells that
// stand for them) in grey and the parcels over them, coloured by how they
// lie over the model; after a run, by how they came out. A click on a
// parcel names it (parcelClicked).
class PlanMap : public QGraphicsView {
    Q_OBJECT

public:
    explicit PlanMap(QWidget* parent = nullptr);

    // Draws the plan, its parcels coloured by overlap.
    void showPlan(const PlanData& plan);
    // Colours the parcels by the report's rows, matched by name (in order,
    // for names that repeat); parcels without a row keep their colour. A
    // parcel partly outside the model shows as such even when written.
    void showResults(const std::vector<ReportRow>& rows);

    int parcelCount() const { return int(m_parcels.size()); }
    QColor parcelColour(int parcel) const;
    // The report row of a parcel after showResults; null before.
    const ReportRow* reportRow(int parcel) const;
    QString parcelName(int parcel) const;

    static QColor overlapColour(vistrel::PlanOverlap overlap);
    static QColor resultColour(FrameResult result);

signals:
    void parcelClicked(int parcel);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void fitPlan();

    std::vector<QGraphicsPathItem*> m_parcels;
    std::vector<QString> m_names;
    std::vector<vistrel::PlanOverlap> m_overlaps;
    std::vector<std::optional<ReportRow>> m_rows;
};
