#include "app/StartPage.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

StartPage::StartPage(const QList<QAction *> &commands, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("startPage"));
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 18, 24, 18);
    auto *title = new QLabel(QStringLiteral("<b>Start here</b>"), this);
    layout->addWidget(title);
    layout->addWidget(new QLabel(QStringLiteral("Open a window for the meter, or a file you "
                                                "saved. The ports are set in View > Settings."),
        this));
    for (QAction *command : commands) {
        if (!command)
            continue;
        QString text = command->text();
        text.remove(QLatin1Char('&'));
        const QString key = command->shortcut().toString(QKeySequence::NativeText);
        auto *button = new QPushButton(command->icon(),
            key.isEmpty() ? text : QStringLiteral("%1    %2").arg(text, key), this);
        button->setObjectName(command->objectName());
        button->setToolTip(command->statusTip());
        button->setStyleSheet(QStringLiteral("text-align: left; padding: 4px 10px;"));
        connect(button, &QPushButton::clicked, command, &QAction::trigger);
        layout->addWidget(button);
    }
    m_recentTitle = new QLabel(QStringLiteral("<b>Recent files</b>"), this);
    m_recentTitle->hide();
    layout->addSpacing(6);
    layout->addWidget(m_recentTitle);
    adjustSize();
}

void StartPage::SetRecentFiles(const QList<QAction *> &files)
{
    // A button may be the one whose click opened the file that changed the list.
    for (QPushButton *old : std::as_const(m_recentButtons)) {
        old->hide();
        old->deleteLater();
    }
    m_recentButtons.clear();
    for (QAction *file : files) {
        QString text = file->text();
        text.remove(QLatin1Char('&'));
        auto *button = new QPushButton(text, this);
        button->setToolTip(file->toolTip());
        button->setStyleSheet(QStringLiteral("text-align: left; padding: 4px 10px;"));
        button->setFlat(true);
        connect(button, &QPushButton::clicked, file, &QAction::trigger);
        layout()->addWidget(button);
        m_recentButtons.append(button);
    }
    m_recentTitle->setVisible(!files.isEmpty());
    adjustSize();
}

void StartPage::Centre(const QSize &area)
{
    adjustSize();
    move(std::max(0, (area.width() - width()) / 2), std::max(0, (area.height() - height()) / 2));
}
