#include "graphs/CurveGraphDialog.h"

#include "graphs/GraphArea.h"
#include "graphs/GraphExporter.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

CurveGraph::Traces CurveGraphDialog::s_traces;

CurveGraphDialog::CurveGraphDialog(
    CurveGraph::Kind kind, const CurveSource &source, QWidget *parent)
    : QDialog(parent)
    , m_kind(kind)
    , m_source(source)
{
    m_area = new GraphArea(this);
    m_area->setMinimumSize(560, 520);
    Register(kGraphArea, m_area);
    // Right click on the graph: save, copy or print it (labels are part of the picture).
    GraphExporter::AttachMenu(m_area, m_area, QString());
    switch (kind) {
    case CurveGraph::Kind::PolyCurve:
    case CurveGraph::Kind::QXPolyCurve:
        BuildPrimaryOnly(QStringLiteral("Sensor Curve Graph"), false);
        break;
    case CurveGraph::Kind::QXPolyLine:
        BuildPrimaryOnly(QStringLiteral("Linear Output Graph"), true);
        m_area->setMinimumSize(640, 520);
        break;
    case CurveGraph::Kind::PolyLine:
        BuildLinearOutput();
        break;
    }
    Redraw();
}

void CurveGraphDialog::BuildPrimaryOnly(const QString &title, bool parameterLabels)
{
    setWindowTitle(title);
    auto *polynomials = Group(QStringLiteral("Polynomials"), this);
    auto *groupLayout = new QVBoxLayout(polynomials);
    const QStringList lines = CurveGraph::PrimaryList(m_kind, m_source);
    groupLayout->addWidget(MakeList(kPrimaryList, QString(), LetterLabels(parameterLabels), lines,
        int(lines.size()), polynomials));
    groupLayout->addStretch();

    auto *ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *left = new QVBoxLayout;
    left->addWidget(polynomials, 1);
    left->addWidget(ok);
    auto *layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(m_area, 1);
}

void CurveGraphDialog::BuildLinearOutput()
{
    setWindowTitle(QStringLiteral("Linear Output Graph"));
    s_traces = CurveGraph::Traces {};

    auto *polynomials = Group(QStringLiteral("Polynomials"), this);
    auto *polyLayout = new QHBoxLayout(polynomials);
    polyLayout->addWidget(MakeList(kPrimaryList, QStringLiteral("Primary"), LetterLabels(true),
        CurveGraph::PrimaryList(m_kind, m_source), 13, polynomials));
    polyLayout->addWidget(MakeList(kSecondaryList, QStringLiteral("Secondary"), LetterLabels(false),
        CurveGraph::SecondaryList(m_source), 13, polynomials));

    auto *pointWise = Group(QStringLiteral("Point-Wise"), this);
    auto *pointLayout = new QVBoxLayout(pointWise);
    QStringList percent;
    for (int q = 0; q <= 20; ++q)
        percent << QString::number(q * 5) + QStringLiteral("%");
    pointLayout->addWidget(MakeList(
        kPointWiseList, QString(), percent, CurveGraph::PointWiseList(m_source), 13, pointWise));

    auto *exit = new QPushButton(QStringLiteral("Exit"), this);
    exit->setDefault(true);
    connect(exit, &QPushButton::clicked, this, &QDialog::accept);

    auto *lists = new QHBoxLayout;
    lists->addWidget(polynomials, 2);
    lists->addWidget(pointWise, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(BuildTraceGroup(), 1);
    bottom->addWidget(exit, 0, Qt::AlignBottom);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addWidget(m_area, 1);
    layout->addLayout(bottom);
    m_area->setMinimumSize(640, 500);
}

QWidget *CurveGraphDialog::BuildTraceGroup()
{
    auto *group = Group(QStringLiteral("Trace On/Off Control"), this);
    auto *grid = new QGridLayout(group);
    struct Row
    {
        int id;
        const char *caption;
        const char *color;
        void (CurveGraphDialog::*handler)();
    };
    const Row rows[] = {
        { kRedButton, "Red - Primary Coefficients Only", "#c80000", &CurveGraphDialog::OnRed },
        { kYellowButton, "Yellow - Primary and Secondary Coefficients", "#ffff00",
            &CurveGraphDialog::OnYellow },
        { kGreenButton, "Green - Primary Coefficients and Point-Wise Segments", "#00ff00",
            &CurveGraphDialog::OnGreen },
    };
    int row = 0;
    for (const Row &r : rows) {
        auto *button = new QPushButton(group);
        button->setFixedSize(22, 18);
        button->setToolTip(QString::fromLatin1(r.caption));
        button->setStyleSheet(
            QStringLiteral("QPushButton { background: %1; border: 1px solid gray; }")
                .arg(QLatin1String(r.color)));
        Register(r.id, button);
        connect(button, &QPushButton::clicked, this, r.handler);
        grid->addWidget(button, row, 0);
        grid->addWidget(new QLabel(QString::fromLatin1(r.caption), group), row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    return group;
}

void CurveGraphDialog::OnRed()
{
    s_traces.red = !s_traces.red;
    Redraw();
}

void CurveGraphDialog::OnYellow()
{
    s_traces.yellow = !s_traces.yellow;
    Redraw();
}

void CurveGraphDialog::OnGreen()
{
    s_traces.green = !s_traces.green;
    Redraw();
}

GraphPicture CurveGraphDialog::BuildPicture() const
{
    switch (m_kind) {
    case CurveGraph::Kind::PolyLine:
        return CurveGraph::LinearOutput(
            m_source, ListLines(kSecondaryList), ListLines(kPointWiseList), s_traces);
    case CurveGraph::Kind::QXPolyLine:
        return CurveGraph::QXLinearOutput(m_source);
    default:
        return CurveGraph::SensorCurve(ListLines(kPrimaryList));
    }
}

QStringList CurveGraphDialog::ListLines(int id) const
{
    QStringList lines;
    if (auto *list = qobject_cast<QTreeWidget *>(Control(id))) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            lines << list->topLevelItem(i)->text(1);
    }
    return lines;
}

void CurveGraphDialog::Redraw()
{
    m_area->SetPicture(BuildPicture());
}

QTreeWidget *CurveGraphDialog::MakeList(int id, const QString &header, const QStringList &labels,
    const QStringList &lines, int visibleRows, QWidget *parent)
{
    auto *list = new QTreeWidget(parent);
    list->setColumnCount(2);
    list->setHeaderLabels({ QString(), header });
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setIndentation(0);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    list->header()->setStretchLastSection(true);
    list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    list->header()->setMinimumSectionSize(20);
    list->setHeaderHidden(header.isEmpty());
    for (int i = 0; i < lines.size(); ++i) {
        auto *item = new QTreeWidgetItem(list);
        item->setText(0, i < labels.size() ? labels.at(i) : QString());
        item->setText(1, lines.at(i));
    }
    const int rowHeight = fontMetrics().height() + 2;
    const int headerHeight = header.isEmpty() ? 0 : list->header()->sizeHint().height();
    list->setFixedHeight(rowHeight * visibleRows + headerHeight + 6);
    list->setMinimumWidth(
        fontMetrics().horizontalAdvance(QStringLiteral("CF -0.00000000e+00")) + 40);
    Register(id, list);
    return list;
}

QGroupBox *CurveGraphDialog::Group(const QString &title, QWidget *parent)
{
    return new QGroupBox(title, parent);
}

QStringList CurveGraphDialog::LetterLabels(bool withParameters)
{
    QStringList labels;
    for (char c = 'A'; c <= 'J'; ++c)
        labels << QString(QChar::fromLatin1(c)) + QLatin1Char('=');
    if (withParameters)
        labels << QStringLiteral("CF") << QStringLiteral("ZO") << QStringLiteral("CO");
    return labels;
}
