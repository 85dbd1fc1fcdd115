#pragma once

#include <QSize>
#include <QString>

#include <functional>

class QDateTime;
class QImage;
class QPainter;
class QPrinter;
class QPushButton;
class QWidget;

// Takes a graph away: a PNG or SVG file, the clipboard or the printer, at the size the user sees
// or at a chosen size. The graph is whatever a widget shows (the plot with its axis labels,
// captions and traces), drawn through QWidget::render, so every graph window (E-LOG, sensor
// curve, linear output, the live trends) shares this one exporter and each export matches the
// screen. A chosen size scales the whole graph evenly, labels with it, to the largest size of
// its own shape within the one chosen: the picture is never padded. Saved files carry a title
// line above the graph (what it shows, as its window tells through kCaptionProperty, and the
// date of the export), also the SVG's title and description. Files are written to a temporary
// file and renamed into place.
class GraphExporter
{
public:
    // The property of a graph's source widget that says what it shows (a meter's serial or a
    // log's file name, the time span): the window keeps it up to date, the title line uses it.
    static constexpr const char *kCaptionProperty = "exportCaption";
    // The title line of a saved graph: the title, the source's caption, the date and time.
    static QString TitleLine(QWidget *source, const QString &title, const QDateTime &when);
    // The size a graph of natural size natural takes when the user chooses size: evenly scaled
    // to the largest that fits it.
    static QSize Fitted(QSize chosen, QSize natural);

    // The graph drawn into an image, under titleLine when one is given; an empty size means the
    // size shown.
    static QImage Image(QWidget *source, QSize size = QSize(), const QString &titleLine = {});
    // Empty on success, else the message for the user; nothing is left at path on failure.
    static QString SavePng(
        QWidget *source, const QString &path, QSize size = QSize(), const QString &titleLine = {});
    static QString SaveSvg(QWidget *source, const QString &path, const QString &title,
        QSize size = QSize(), const QString &titleLine = {});
    // Puts the graph's image on the clipboard.
    static void Copy(QWidget *source, QSize size = QSize());
    // Draws the graph on the printer's page, as large as the page allows at its own aspect.
    static bool Print(QWidget *source, QPrinter &printer);
    // Draws the graph (under titleLine when one is given) into painter's target rectangle,
    // evenly scaled and centred.
    static void Render(
        QWidget *source, QPainter &painter, QSize target, const QString &titleLine = {});
    // The natural size of the export: the graph as shown, with the title line's band.
    static QSize Natural(QWidget *source, const QString &titleLine);

    // A title names the suggested file and the SVG; an empty one takes the window's title.
    // The menu of the exports (Save as PNG..., Save as SVG..., Save at Size..., Copy, Print...):
    // a right click on trigger opens it, and Ctrl+C, Ctrl+S and Ctrl+P act on its window.
    static void AttachMenu(QWidget *trigger, QWidget *source, const QString &title);
    // A button that opens the same menu.
    static QPushButton *MenuButton(QWidget *source, const QString &title, QWidget *parent);

    // Prompts, replaceable by tests: the file to save (empty = cancelled) and a size (an
    // invalid one = cancelled). Each setter gives back the prompt it replaces.
    using FilePrompt
        = std::function<QString(QWidget *parent, const QString &suggested, const QString &filter)>;
    using SizePrompt = std::function<QSize(QWidget *parent, QSize shown)>;
    static FilePrompt SetFilePrompt(FilePrompt prompt);
    static SizePrompt SetSizePrompt(SizePrompt prompt);
    // Where messages go (a message box by default).
    using MessageSink = std::function<void(const QString &text)>;
    static MessageSink SetMessageSink(MessageSink sink);

    // Runs one menu entry as the user would (tests): "png", "svg", "size", "copy", "print".
    static void Run(const QString &entry, QWidget *source, const QString &title);

    // The largest side a chosen size may have, in pixels.
    static constexpr int kMaxSide = 16000;
};
