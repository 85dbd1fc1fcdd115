#pragma once

#include "graphs/CurveSource.h"
#include "graphs/GraphPicture.h"

#include <QDialog>
#include <QHash>

class GraphArea;
class QGroupBox;
class QTreeWidget;

// What the four curve graph dialogs share: the form's texts copied at opening, the labelled
// coefficient lists, the owner-drawn graph area (control 1057) and the lookup of controls by id.
// The graph is built again from the dialog's lists on every redraw.
class CurveGraphDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kGraphArea = 1057;

    // The window of control id, or null (tests and screenshots).
    QWidget *Control(int id) const { return m_byId.value(id); }
    GraphArea *Area() const { return m_area; }
    // The lines of the list with control id, as the graph reads them.
    QStringList ListLines(int id) const;
    // Builds the picture from the lists and shows it.
    void Redraw();

protected:
    CurveGraphDialog(const CurveSource &source, QWidget *parent);
    virtual GraphPicture BuildPicture() const = 0;

    // A list of lines with a label column; labels past the end of labels stay empty.
    QTreeWidget *MakeList(int id, const QString &header, const QStringList &labels,
        const QStringList &lines, int visibleRows, QWidget *parent);
    void Register(int id, QWidget *widget) { m_byId.insert(id, widget); }
    static QGroupBox *Group(const QString &title, QWidget *parent);
    static QStringList LetterLabels(bool withParameters);

    CurveSource m_source;
    GraphArea *m_area = nullptr;

private:
    QHash<int, QWidget *> m_byId;
};
