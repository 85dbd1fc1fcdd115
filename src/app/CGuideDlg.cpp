#include "app/CGuideDlg.h"

#include "app/UserGuide.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QVBoxLayout>

namespace {
// Where the README and its pictures are built in, under their paths in the source tree.
const QString kResourceRoot = QStringLiteral(":/guide");
} // namespace

CGuideDlg::CGuideDlg(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("User Guide"));
    m_browser = new QTextBrowser(this);
    m_browser->setOpenExternalLinks(false);
    m_browser->setSearchPaths({ kResourceRoot });
    QFile readme(kResourceRoot + QStringLiteral("/README.md"));
    const QString guide = readme.open(QIODevice::ReadOnly)
        ? UserGuide::FromReadme(QString::fromUtf8(readme.readAll()))
        : QString();
    if (guide.isEmpty())
        m_browser->setPlainText(QStringLiteral("The user guide is not available."));
    else
        m_browser->setMarkdown(guide);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_browser);
    layout->addWidget(buttons);
    resize(920, 760);
}

void CGuideDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    FitPictures();
}

void CGuideDlg::FitPictures()
{
    // Each picture at its own size, or scaled down to the window's width.
    QTextDocument *document = m_browser->document();
    const qreal room = std::max(100, m_browser->viewport()->width() - 24);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            if (!image.isValid())
                continue;
            const QImage picture
                = document->resource(QTextDocument::ImageResource, QUrl(image.name()))
                      .value<QImage>();
            if (picture.isNull() || picture.width() <= 0)
                continue;
            const qreal width = std::min<qreal>(picture.width(), room);
            if (qFuzzyCompare(image.width(), width))
                continue;
            image.setWidth(width);
            image.setHeight(picture.height() * width / picture.width());
            QTextCursor cursor(document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
}

#include "moc_CGuideDlg.cpp"
