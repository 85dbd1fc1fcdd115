#include "graphs/GraphExporter.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
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

QString AskFile(QWidget *source, const QString &title, const char *extension, const char *filter)
{
    QString base = title;
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]+")), QStringLiteral("_"));
    const QString suggested = base + QLatin1Char('.') + QLatin1String(extension);
    if (FilePromptInForce())
        return FilePromptInForce()(source, suggested, QLatin1String(filter));
    return QFileDialog::getSaveFileName(
        source->window(), QStringLiteral("Export Graph"), suggested, QLatin1String(filter));
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

QString Failed(const QString &path, const QString &reason)
{
    return QStringLiteral("Cannot write %1\n%2").arg(QFileInfo(path).absoluteFilePath(), reason);
}

} // namespace

void GraphExporter::Render(QWidget *source, QPainter &painter, QSize target)
{
    const QSize shown = Shown(source);
    const double scale = std::min(
        double(target.width()) / shown.width(), double(target.height()) / shown.height());
    painter.save();
    painter.fillRect(QRect(QPoint(0, 0), target), source->palette().window());
    painter.translate((target.width() - shown.width() * scale) / 2,
        (target.height() - shown.height() * scale) / 2);
    painter.scale(scale, scale);
    source->render(
        &painter, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    painter.restore();
}

QImage GraphExporter::Image(QWidget *source, QSize size)
{
    const QSize target = size.isValid() && !size.isEmpty() ? Clamped(size) : Shown(source);
    QImage image(target, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    Render(source, painter, target);
    return image;
}

QString GraphExporter::SavePng(QWidget *source, const QString &path, QSize size)
{
    const QImage image = Image(source, size);
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

QString GraphExporter::SaveSvg(
    QWidget *source, const QString &path, const QString &title, QSize size)
{
    const QSize target = size.isValid() && !size.isEmpty() ? Clamped(size) : Shown(source);
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
    svg.setDescription(QStringLiteral("Graph exported by Tarvik"));
    {
        QPainter painter(&svg);
        Render(source, painter, target);
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
    const auto save = [&](QSize size) {
        const QString path
            = AskFile(source, title, "png", "PNG image (*.png);;SVG drawing (*.svg)");
        if (path.isEmpty())
            return;
        const QString error = path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)
            ? SaveSvg(source, path, title, size)
            : SavePng(source, path, size);
        if (!error.isEmpty())
            Tell(source, error);
    };
    if (entry == QLatin1String("png")) {
        save(QSize());
    } else if (entry == QLatin1String("svg")) {
        const QString path = AskFile(source, title, "svg", "SVG drawing (*.svg)");
        if (path.isEmpty())
            return;
        const QString error = SaveSvg(source, path, title);
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
    const auto add = [&](const QString &text, const char *entry) {
        QObject::connect(menu->addAction(text), &QAction::triggered, menu,
            [guarded, title, entry] { GraphExporter::Run(QLatin1String(entry), guarded, title); });
    };
    add(QStringLiteral("Save as PNG..."), "png");
    add(QStringLiteral("Save as SVG..."), "svg");
    add(QStringLiteral("Save at Size..."), "size");
    menu->addSeparator();
    add(QStringLiteral("Copy"), "copy");
    add(QStringLiteral("Print..."), "print");
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
