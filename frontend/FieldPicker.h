#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QListWidget;

// The output field picker: the shapefile's attribute fields, each with a
// tick, in an order the user changes with "上移" / "下移" or by dragging. The
// ticked fields, top to bottom, name the frames. Below it (placed by the
// form) a note on fields the shapefile lacks or on no field ticked.
class FieldPicker : public QWidget {
    Q_OBJECT

public:
    explicit FieldPicker(QWidget* parent = nullptr);

    QLabel* noteLabel() const { return m_noteLabel; }

    // The list holds `available` (the default field when empty), `checked`
    // ticked.
    void rebuild(const QStringList& available, const QStringList& checked);
    QStringList selectedFields() const;

    // Reads the fields of the shapefile's attribute file: the ticked fields
    // the file has come first, in their order, then its other fields; ticked
    // fields it lacks are named in the note and ticked again when a later
    // file has them. False when the file could not be read; `quiet` puts
    // that in the note.
    bool readShapefile(const QString& shpPath, bool quiet);
    // The shapefile the list was read from; empty after a rebuild from
    // settings.
    QString readFrom() const { return m_readFrom; }
    void forgetShapefile() { m_readFrom.clear(); }

signals:
    // A note worth keeping in the log.
    void noted(const QString& text);

private:
    void choiceEdited();
    void updateNote();
    void moveCurrent(int direction);
    int listHeight(int rows) const;

    QListWidget* m_list = nullptr;
    QLabel* m_noteLabel = nullptr;
    QString m_readFrom;
    QString m_missingNote;
    // The fields the user ticked, in order, including those the shapefile
    // now named lacks: a later shapefile that has them ticks them again.
    QStringList m_choice;
    bool m_rebuilding = false;
};
