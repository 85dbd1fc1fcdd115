#pragma once

#include "graphs/CurveGraph.h"
#include "graphs/CurveSource.h"
#include "graphs/GraphPicture.h"

#include <QDialog>
#include <QHash>

class GraphArea;
class QGroupBox;
class QTreeWidget;

// The curve graph dialogs of both forms, one per CurveGraph::Kind: the sensor curve ("Display
// Curve"/"Curve", the polynomial of the ten primary coefficients, both series), the Kelvane linear
// output graph ("Display Linear": output against flow with up to three traces, each switched by
// its button) and the Quixal one ("Linear": one trace, the flow scale shifted by C Factor and Zero
// Offset). Modal; copies the form's texts when it opens, and builds the graph again from its own
// lists on every redraw. The three trace flags belong to the process: every opening of the Kelvane
// linear graph sets them on, and they keep their last state after the dialog closes.
class CurveGraphDialog : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kPrimaryList = 1053;
    static constexpr int kSecondaryList = 1054;
    static constexpr int kPointWiseList = 1055;
    static constexpr int kGraphArea = 1057;
    static constexpr int kRedButton = 1080;
    static constexpr int kYellowButton = 1081;
    static constexpr int kGreenButton = 1082;

    CurveGraphDialog(CurveGraph::Kind kind, const CurveSource &source, QWidget *parent = nullptr);

    CurveGraph::Kind GraphKind() const { return m_kind; }
    // The window of control id, or null (tests and screenshots).
    QWidget *Control(int id) const { return m_byId.value(id); }
    GraphArea *Area() const { return m_area; }
    // The lines of the list with control id, as the graph reads them.
    QStringList ListLines(int id) const;
    // Builds the picture from the lists and shows it.
    void Redraw();

    static CurveGraph::Traces TraceFlags() { return s_traces; }
    // The handlers of the three trace buttons: flip the colour's flag and redraw.
    void OnRed();
    void OnYellow();
    void OnGreen();

private:
    // The sensor curves and the Quixal linear graph: one primary list beside the graph, letter
    // labels with or without the three parameters' own.
    void BuildPrimaryOnly(const QString &title, bool parameterLabels);
    void BuildLinearOutput();
    QWidget *BuildTraceGroup();
    GraphPicture BuildPicture() const;

    // A list of lines with a label column; labels past the end of labels stay empty.
    QTreeWidget *MakeList(int id, const QString &header, const QStringList &labels,
        const QStringList &lines, int visibleRows, QWidget *parent);
    void Register(int id, QWidget *widget) { m_byId.insert(id, widget); }
    static QGroupBox *Group(const QString &title, QWidget *parent);
    static QStringList LetterLabels(bool withParameters);

    CurveGraph::Kind m_kind;
    CurveSource m_source;
    GraphArea *m_area = nullptr;
    QHash<int, QWidget *> m_byId;

    static CurveGraph::Traces s_traces;
};
