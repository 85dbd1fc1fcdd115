#include "graphs/GraphExporter.h"

#include "base/SaveDialog.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSvgGenerator>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

GraphExporter::FilePrompt &FilePromptInForce()
{
    static GraphExporter::FilePrompt prompt;
    return prompt;
}

GraphExporter::SizePrompt &SizePromptInForce()
{
    static GraphExporter::SizePrompt prompt;
    return prompt;
}

GraphExporter::MessageSink &MessageSinkInForce()
{
    static GraphExporter::MessageSink sink;
    return sink;
}

void Tell(QWidget *parent, const QString &text)
{
    if (MessageSinkInForce())
        MessageSinkInForce()(text);
    else
        QMessageBox::warning(parent, QStringLiteral("Export Graph"), text);
}

QSize Shown(QWidget *source)
{
    return source->size().expandedTo(QSize(1, 1));
}

QSize Clamped(QSize size)
{
    return QSize(std::clamp(size.width(), 1, GraphExporter::kMaxSide),
        std::clamp(size.height(), 1, GraphExporter::kMaxSide));
}

// extensions: the first is proposed; a name that ends in none gets the chosen filter's.
QString AskFile(QWidget *source, const QString &title, const QStringList &extensions,
    const QStringList &filters)
{
    QString base = title;
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("_"));
    SaveDialog::Request request;
    request.caption = QStringLiteral("Export Graph");
    request.proposed = base + extensions.constFirst();
    request.filters = filters;
    request.extensions = extensions;
    request.tell = [source](const QString &text) { Tell(source, text); };
    SaveDialog::Prompt prompt;
    if (FilePromptInForce()) {
        prompt = [joined = filters.join(QStringLiteral(";;"))](
                     QWidget *parent, const QString &suggested) {
            return FilePromptInForce()(parent, suggested, joined);
        };
    }
    return SaveDialog::Ask(source->window(), request, prompt);
}

QSize AskSize(QWidget *source)
{
    const QSize shown = Shown(source);
    if (SizePromptInForce())
        return SizePromptInForce()(source, shown);
    bool ok = false;
    const QString text = QInputDialog::getText(source->window(), QStringLiteral("Export Graph"),
        QStringLiteral("Size in pixels (width x height):"), QLineEdit::Normal,
        QStringLiteral("%1 x %2").arg(shown.width()).arg(shown.height()), &ok);
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("^\\s*(\\d{1,5})\\s*[xX*,]\\s*(\\d{1,5})\\s*$"))
              .match(text);
    if (!ok || !m.hasMatch())
        return QSize();
    return QSize(m.captured(1).toInt(), m.captured(2).toInt());
}

// The height of the title line's band above the graph (none without a line).
int Band(QWidget *source, const QString &titleLine)
{
    return titleLine.isEmpty() ? 0 : source->fontMetrics().height() + 10;
}

QString Failed(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot write %1\n%2").arg(QFileInfo(path).absoluteFilePath(), reason);
}

} // namespace

QString GraphExporter::TitleLine(QWidget *source, const QString &title, const QDateTime &when)
{
    QString line = title;
    const QString caption
        = source ? source->property(kCaptionProperty).toString().trimmed() : QString();
    if (!caption.isEmpty())
        line += QStringLiteral(": ") + caption;
    return line + QStringLiteral(", exported ") + when.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QSize GraphExporter::Fitted(QSize chosen, QSize natural)
{
    natural = natural.expandedTo(QSize(1, 1));
    const QSize box = Clamped(chosen);
    const double scale
        = std::min(double(box.width()) / natural.width(), double(box.height()) / natural.height());
    return Clamped(QSize(
        int(std::lround(natural.width() * scale)), int(std::lround(natural.height() * scale))));
}

QSize GraphExporter::Natural(QWidget *source, const QString &titleLine)
{
    return Shown(source) + QSize(0, Band(source, titleLine));
}

void GraphExporter::Render(
    QWidget *source, QPainter &painter, QSize target, const QString &titleLine)
{
    const QSize shown = Shown(source);
    const int band = Band(source, titleLine);
    const double scale = std::min(
        double(target.width()) / shown.width(), double(target.height()) / (shown.height() + band));
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), target), source->palette().window());
    painter.translate((target.width() - shown.width() * scale) / 2,
        (target.height() - (shown.height() + band) * scale) / 2);
    painter.scale(scale, scale);
    if (band > 0) {
        const QRect line(0, 0, shown.width(), band);
        painter.fillRect(line, Qt::white);
        painter.setPen(Qt::black);
        painter.setFont(source->font());
        painter.drawText(line.adjusted(6, 0, -6, 0), Qt::AlignLeft | Qt::AlignVCenter,
            painter.fontMetrics().elidedText(titleLine, Qt::ElideRight, shown.width() - 12));
        painter.translate(0, band);
    }
    source->render(
        &painter, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    painter.restore();
}

QImage GraphExporter::Image(QWidget *source, QSize size, const QString &titleLine)
{
    const QSize natural = Natural(source, titleLine);
    const QSize target = size.isValid() && !size.isEmpty() ? Fitted(size, natural) : natural;
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    Render(source, painter, target, titleLine);
    return image;
}

QString GraphExporter::SavePng(
    QWidget *source, const QString &path, QSize size, const QString &titleLine)
{
    const QImage image = Image(source, size, titleLine);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Failed(path, file.errorString());
    if (!image.save(&file, "PNG")) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Failed(
            path, reason.isEmpty() ? QStringLiteral("The image could not be written.") : reason);
    }
    if (!file.commit())
        return Failed(path, file.errorString());
    return QString();
}

QString GraphExporter::SaveSvg(QWidget *source, const QString &path, const QString &title,
    QSize size, const QString &titleLine)
{
    const QSize natural = Natural(source, titleLine);
    const QSize target = size.isValid() && !size.isEmpty() ? Fitted(size, natural) : natural;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return Failed(path, file.errorString());
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(target);
    // Pixels at 96 per inch, so a viewer opens the drawing at the size the screen showed.
    svg.setResolution(96);
    svg.setViewBox(QRect(QPoint(0, 0), target));
    svg.setTitle(title);
    svg.setDescription(titleLine.isEmpty() ? QStringLiteral("Graph exported by Tarvik")
                                           : titleLine + QStringLiteral(" by Tarvik"));
    {
        QPainter painter(&svg);
        Render(source, painter, target, titleLine);
    }
    if (file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Failed(path, reason);
    }
    if (!file.commit())
        return Failed(path, file.errorString());
    return QString();
}

void GraphExporter::Copy(QWidget *source, QSize size)
{
    QApplication::clipboard()->setImage(Image(source, size));
}

bool GraphExporter::Print(QWidget *source, QPrinter &printer)
{
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
    Render(source, painter, page.size());
    return painter.end();
}

void GraphExporter::Run(const QString &entry, QWidget *source, const QString &givenTitle)
{
    if (!source)
        return;
    // No title given: the graph window's own.
    const QString title = givenTitle.isEmpty() ? source->window()->windowTitle() : givenTitle;
    const QString line = TitleLine(source, title, QDateTime::currentDateTime());
    const auto save = [&](QSize size) {
        const QString path
            = AskFile(source, title, { QStringLiteral(".png"), QStringLiteral(".svg") },
                { QStringLiteral("PNG image (*.png)"), QStringLiteral("SVG drawing (*.svg)") });
        if (path.isEmpty())
            return;
        const QString error = path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)
            ? SaveSvg(source, path, title, size, line)
            : SavePng(source, path, size, line);
        if (!error.isEmpty())
            Tell(source, error);
    };
    if (entry == QLatin1String("png")) {
        save(QSize());
    } else if (entry == QLatin1String("svg")) {
        const QString path = AskFile(
            source, title, { QStringLiteral(".svg") }, { QStringLiteral("SVG drawing (*.svg)") });
        if (path.isEmpty())
            return;
        const QString error = SaveSvg(source, path, title, QSize(), line);
        if (!error.isEmpty())
            Tell(source, error);
    } else if (entry == QLatin1String("size")) {
        const QSize size = AskSize(source);
        if (size.isValid() && !size.isEmpty())
            save(size);
    } else if (entry == QLatin1String("copy")) {
        Copy(source);
    } else if (entry == QLatin1String("print")) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setPageOrientation(
            source->width() >= source->height() ? QPageLayout::Landscape : QPageLayout::Portrait);
        printer.setDocName(title);
        QPrintDialog dialog(&printer, source->window());
        if (dialog.exec() == QDialog::Accepted && !Print(source, printer))
            Tell(source, QStringLiteral("The graph could not be printed."));
    }
}

namespace {

QMenu *BuildMenu(QWidget *source, const QString &title, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    const QPointer<QWidget> guarded(source);
    const auto add = [&](const QString &text, const char *entry, QKeySequence keys) {
        QAction *action = menu->addAction(text);
        // The keys are the window's (AttachMenu): the menu only shows them beside the entry.
        if (!keys.isEmpty()) {
            action->setShortcut(keys);
            action->setShortcutContext(Qt::WidgetShortcut);
        }
        QObject::connect(action, &QAction::triggered, menu,
            [guarded, title, entry] { GraphExporter::Run(QLatin1String(entry), guarded, title); });
    };
    add(QStringLiteral("Save as PNG..."), "png", QKeySequence::Save);
    add(QStringLiteral("Save as SVG..."), "svg", QKeySequence());
    add(QStringLiteral("Save at Size..."), "size", QKeySequence());
    menu->addSeparator();
    add(QStringLiteral("Copy"), "copy", QKeySequence::Copy);
    add(QStringLiteral("Print..."), "print", QKeySequence::Print);
    return menu;
}

} // namespace

void GraphExporter::AttachMenu(QWidget *trigger, QWidget *source, const QString &title)
{
    QMenu *menu = BuildMenu(source, title, trigger);
    trigger->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(trigger, &QWidget::customContextMenuRequested, menu,
        [menu, trigger](const QPoint &at) { menu->popup(trigger->mapToGlobal(at)); });
    const QPointer<QWidget> guarded(source);
    const auto shortcut = [&](QKeySequence keys, const char *entry) {
        auto *action = new QAction(trigger->window());
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        trigger->window()->addAction(action);
        QObject::connect(action, &QAction::triggered, action,
            [guarded, title, entry] { GraphExporter::Run(QLatin1String(entry), guarded, title); });
    };
    shortcut(QKeySequence::Copy, "copy");
    shortcut(QKeySequence::Save, "png");
    shortcut(QKeySequence::Print, "print");
}

QPushButton *GraphExporter::MenuButton(QWidget *source, const QString &title, QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("Export"), parent);
    button->setObjectName(QStringLiteral("graphExport"));
    button->setAutoDefault(false);
    button->setMenu(BuildMenu(source, title, button));
    return button;
}

GraphExporter::FilePrompt GraphExporter::SetFilePrompt(FilePrompt prompt)
{
    return std::exchange(FilePromptInForce(), std::move(prompt));
}

GraphExporter::SizePrompt GraphExporter::SetSizePrompt(SizePrompt prompt)
{
    return std::exchange(SizePromptInForce(), std::move(prompt));
}

GraphExporter::MessageSink GraphExporter::SetMessageSink(MessageSink sink)
{
    return std::exchange(MessageSinkInForce(), std::move(sink));
}
