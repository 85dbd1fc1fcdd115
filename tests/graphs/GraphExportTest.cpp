// Graphs taken away: a known graph saved as PNG (the pixels the user sees, at the shown or a
// chosen size) and as SVG (read as text: its size and every label), copied and printed; the E-LOG
// graph through its own menu; a folder that cannot be written gives a message and no file.
#include "base/PrintfText.h"
#include "datalog/CElogGraph.h"
#include "graphs/GraphArea.h"
#include "graphs/GraphExporter.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

QByteArray Bytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The texts of an SVG's <text> elements, in order.
QStringList SvgTexts(const QByteArray &svg)
{
    QStringList texts;
    qsizetype at = 0;
    while ((at = svg.indexOf("<text", at)) >= 0) {
        const qsizetype open = svg.indexOf('>', at);
        const qsizetype close = svg.indexOf("</text>", open);
        if (open < 0 || close < 0)
            break;
        texts << QString::fromUtf8(svg.mid(open + 1, close - open - 1)).trimmed();
        at = close;
    }
    return texts;
}

// A small graph with a frame, a trace and its labels.
GraphPicture KnownPicture()
{
    GraphPicture p;
    p.background = QRectF(0, -100, 200, 100);
    p.backgroundColor = { 0, 0, 0 };
    p.Line({ 0, 0, 255 }, 1, QPointF(0, -100), QPointF(200, -100));
    p.Add({ { 200, 0, 0 }, 2, { { 0, -90 }, { 100, -20 }, { 200, -60 } }, true });
    p.Label(
        QPointF(5, -2), QStringLiteral("Flow SCFM"), QStringLiteral("Arial"), 8, { 255, 255, 255 });
    p.Label(QPointF(150, -2), QStringLiteral("12.50"), QStringLiteral("Arial"), 8, { 255, 255, 0 });
    return p;
}

struct Prompts
{
    Prompts()
    {
        oldFile = GraphExporter::SetFilePrompt(
            [this](QWidget *, const QString &suggested, const QString &) {
                suggestions << suggested;
                return path;
            });
        oldSize = GraphExporter::SetSizePrompt([this](QWidget *, QSize) { return size; });
        oldSink = GraphExporter::SetMessageSink([this](const QString &t) { messages << t; });
    }
    ~Prompts()
    {
        GraphExporter::SetFilePrompt(oldFile);
        GraphExporter::SetSizePrompt(oldSize);
        GraphExporter::SetMessageSink(oldSink);
    }
    QString path;
    QSize size;
    QStringList suggestions, messages;
    GraphExporter::FilePrompt oldFile;
    GraphExporter::SizePrompt oldSize;
    GraphExporter::MessageSink oldSink;
};

} // namespace

TEST(GraphExport, KnownGraphAsPngSvgClipboardAndPrint)
{
    QTemporaryDir dir;
    GraphArea area;
    area.resize(400, 220);
    area.SetPicture(KnownPicture());
    area.show();
    Prompts prompts;

    // PNG at the shown size: a title line, then the very pixels on the screen, labels included.
    area.setProperty(GraphExporter::kCaptionProperty, QStringLiteral("S/N 31415, 10:00 to 10:05"));
    prompts.path = dir.filePath(QStringLiteral("shown.png"));
    GraphExporter::Run(QStringLiteral("png"), &area, QStringLiteral("Known"));
    ASSERT_TRUE(prompts.messages.isEmpty()) << qPrintable(prompts.messages.join('\n'));
    EXPECT_EQ(prompts.suggestions.value(0), QStringLiteral("Known.png"));
    const QImage shown(prompts.path);
    ASSERT_EQ(shown.width(), 400);
    const int band = shown.height() - 220;
    ASSERT_GT(band, 10) << "no title line";
    const QImage screen = area.grab().toImage().convertToFormat(shown.format());
    EXPECT_EQ(shown.copy(0, band, 400, 220), screen);
    // The title line is dark text on white.
    int dark = 0;
    for (int x = 0; x < 400; ++x)
        dark += qGray(shown.pixel(x, band / 2)) < 100;
    EXPECT_GT(dark, 5);
    EXPECT_EQ(GraphExporter::TitleLine(
                  &area, QStringLiteral("Known"), QDateTime(QDate(2026, 12, 9), QTime(4, 12))),
        QStringLiteral("Known: S/N 31415, 10:00 to 10:05, exported 2026-12-09 04:12"));

    // A chosen size, through "Save at Size...": the same picture evenly scaled to the largest
    // of its shape within the size chosen, never padded with bands; twice as large here.
    prompts.size = QSize(800, 2 * shown.height());
    prompts.path = dir.filePath(QStringLiteral("large.png"));
    GraphExporter::Run(QStringLiteral("size"), &area, QStringLiteral("Known"));
    const QImage large(prompts.path);
    ASSERT_EQ(large.size(), QSize(800, 2 * shown.height()));
    // The trace's red shows at the same relative place (the mid point of the middle segment).
    const QPoint red = area.Map(QPointF(100, -20)).toPoint() + QPoint(0, band);
    EXPECT_GT(qRed(large.pixel(red * 2)), 150);
    EXPECT_GT(qRed(shown.pixel(red)), 150);
    // A size of another shape, even one pixel high (a zoom to a single point): evenly scaled.
    for (const QSize chosen : { QSize(1600, 2 * shown.height()), QSize(5000, 1) }) {
        prompts.size = chosen;
        GraphExporter::Run(QStringLiteral("size"), &area, QStringLiteral("Known"));
        EXPECT_EQ(QImage(prompts.path).size(),
            chosen.height() == 1 ? QSize(2, 1) : QSize(800, 2 * shown.height()));
    }

    // SVG as text: its size and each label.
    prompts.path = dir.filePath(QStringLiteral("known.svg"));
    GraphExporter::Run(QStringLiteral("svg"), &area, QStringLiteral("Known"));
    const QByteArray svg = Bytes(prompts.path);
    if (qEnvironmentVariableIsSet("TARVIK_SHOTS"))
        QFile::copy(prompts.path, qEnvironmentVariable("TARVIK_SHOTS") + "/known.svg");
    // 400 pixels at 96 per inch.
    EXPECT_TRUE(svg.contains("width=\"105.833mm\"")) << svg.left(200).constData();
    EXPECT_TRUE(svg.contains(QStringLiteral("viewBox=\"0 0 400 %1\"").arg(shown.height()).toUtf8()))
        << svg.left(400).constData();
    EXPECT_TRUE(svg.contains("<title>Known</title>"));
    EXPECT_TRUE(svg.contains("<desc>Known: S/N 31415, 10:00 to 10:05, exported "))
        << svg.left(600).constData();
    const QStringList texts = SvgTexts(svg);
    EXPECT_TRUE(texts.contains(QStringLiteral("Flow SCFM"))) << qPrintable(texts.join('|'));
    EXPECT_TRUE(texts.contains(QStringLiteral("12.50"))) << qPrintable(texts.join('|'));

    // Clipboard: the shown image.
    GraphExporter::Run(QStringLiteral("copy"), &area, QString());
    EXPECT_EQ(QApplication::clipboard()->image().size(), QSize(400, 220));

    // Printing to a PDF file: a page is written.
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("print.pdf")));
    EXPECT_TRUE(GraphExporter::Print(&area, printer));
    EXPECT_TRUE(Bytes(printer.outputFileName()).startsWith("%PDF"));

    // A folder that is not there: a message naming the file, nothing written.
    prompts.path = dir.filePath(QStringLiteral("none/x.svg"));
    GraphExporter::Run(QStringLiteral("svg"), &area, QStringLiteral("Known"));
    prompts.path = dir.filePath(QStringLiteral("none/x.png"));
    GraphExporter::Run(QStringLiteral("png"), &area, QStringLiteral("Known"));
    // A folder nobody may write to, not even root.
    prompts.path = QStringLiteral("/proc/tarvik-graph.png");
    GraphExporter::Run(QStringLiteral("png"), &area, QStringLiteral("Known"));
    ASSERT_EQ(prompts.messages.size(), 3);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("none/x.svg")));
    EXPECT_TRUE(
        prompts.messages[2].startsWith(QStringLiteral("Cannot write /proc/tarvik-graph.png")))
        << qPrintable(prompts.messages[2]);
    EXPECT_FALSE(QFile::exists(prompts.path));
}

TEST(GraphExport, ElogGraphKeepsItsAxisLabels)
{
    ElogPlot::Inputs in;
    for (int i = 1; i <= 30; ++i)
        in.entries << PrintfText::Format("; %d    ; 01:%02d:%02d PM    ; %.2f    ; RL1%c    ", i,
            i * 10 / 60, i * 10 % 60, 20.0 + i, i > 15 ? '*' : '.');
    in.interval = 10;
    in.columns[ElogPlot::TimeColumn] = 2;
    in.columns[ElogPlot::FlowColumn] = 3;
    in.columns[ElogPlot::Relay1Column] = 4;
    in.flowUnits = QStringLiteral("LBPM");
    in.startTime = QStringLiteral("01:00:00 PM");
    CElogGraph graph(in);
    graph.show();
    QTemporaryDir dir;
    Prompts prompts;
    prompts.path = dir.filePath(QStringLiteral("elog.svg"));
    GraphExporter::Run(QStringLiteral("svg"), graph.PlotPanel(), QStringLiteral("E-LOG Graph"));
    const QStringList texts = SvgTexts(Bytes(prompts.path));
    const ElogPlot::Labels labels = ElogPlot(in).MakeLabels();
    for (const QString &expected : { labels.times[0], labels.times[10], labels.flows[0],
             labels.flows[5], labels.units, labels.division, QStringLiteral("RELAY1") })
        EXPECT_TRUE(texts.contains(expected)) << qPrintable(expected + " in " + texts.join('|'));
    // The title line names the span shown.
    const QString title = QStringLiteral("E-LOG Graph: %1 to %2 (%3), exported ")
                              .arg(labels.times[0].trimmed(), labels.times[10].trimmed(),
                                  labels.division.trimmed());
    EXPECT_TRUE(std::any_of(texts.cbegin(), texts.cend(), [&](const QString &t) {
        return t.startsWith(title);
    })) << qPrintable(title + " in " + texts.join('|'));

    prompts.size = QSize(1600, 1000);
    prompts.path = dir.filePath(QStringLiteral("elog.png"));
    GraphExporter::Run(QStringLiteral("size"), graph.PlotPanel(), QString());
    // Scaled evenly to the largest of its own shape within 1600 x 1000: no bands.
    const QSize fitted = GraphExporter::Fitted(
        QSize(1600, 1000), GraphExporter::Natural(graph.PlotPanel(), QStringLiteral("title")));
    EXPECT_TRUE(fitted.width() == 1600 || fitted.height() == 1000);
    EXPECT_EQ(QImage(prompts.path).size(), fitted);
    EXPECT_EQ(prompts.suggestions.last(), QStringLiteral("E-LOG_Graph.png"));
    if (qEnvironmentVariableIsSet("TARVIK_SHOTS")) {
        graph.grab().save(qEnvironmentVariable("TARVIK_SHOTS") + QStringLiteral("/elog.png"));
        QFile::copy(prompts.path, qEnvironmentVariable("TARVIK_SHOTS") + "/elog-export.png");
    }
}
