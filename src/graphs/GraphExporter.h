#pragma once

#include <QSize>
#include <QString>

#include <functional>

class QImage;
class QPainter;
class QPrinter;
class QPushButton;
class QWidget;

// Takes a graph away: a PNG or SVG file, the clipboard or the printer, at the size the user sees
// or at a chosen size. The graph is whatever a widget shows (the plot with its axis labels,
// captions and traces), drawn through QWidget::render, so every graph window (E-LOG, sensor
// curve, linear output, the live trends) shares this one exporter and each export matches the
// screen. A chosen size scales the whole graph evenly and centres it; labels scale with it.
// Files are written to a temporary file and renamed into place.
class GraphExporter
{
public:
    // The graph drawn into an image; an empty size means the size shown.
    static QImage Image(QWidget *source, QSize size = QSize());
    // Empty on success, else the message for the user; nothing is left at path on failure.
    static QString SavePng(QWidget *source, const QString &path, QSize size = QSize());
    static QString SaveSvg(
        QWidget *source, const QString &path, const QString &title, QSize size = QSize());
    // Puts the graph's image on the clipboard.
    static void Copy(QWidget *source, QSize size = QSize());
    // Draws the graph on the printer's page, as large as the page allows at its own aspect.
    static bool Print(QWidget *source, QPrinter &printer);
    // Draws the graph into painter's target rectangle, evenly scaled and centred.
    static void Render(QWidget *source, QPainter &painter, QSize target);

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
