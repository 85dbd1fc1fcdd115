#pragma once

#include "base/UserMessage.h"
#include "datalog/IDatalogSink.h"
#include "link/Printers.h"

#include <QString>
#include <QStringList>

inline void PrintTo(const QStringList &list, std::ostream *out)
{
    *out << '{';
    for (const QString &text : list)
        *out << " \"" << text.toStdString() << "\"";
    *out << " }";
}

// Records what the datalogger core tells its form: every status and mode change in order, and
// (while it lives) the messages the user would have been shown.
class RecordingSink : public IDatalogSink
{
public:
    RecordingSink()
    {
        m_previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            messages << caption + QLatin1Char('|') + text;
        });
    }
    ~RecordingSink() override { UserMessage::SetHandler(m_previous); }

    void StatusChanged(const QString &status, const QString &mode) override
    {
        if (statuses.isEmpty() || statuses.last() != status)
            statuses << status;
        if (modes.isEmpty() || modes.last() != mode)
            modes << mode;
    }
    void FocusStopButton() override { ++stopFocused; }
    void ProgressChanged(const QString &text) override
    {
        if (!text.isEmpty())
            progress << text;
    }
    void DialogueRunning(bool running) override { dialogues << running; }

    QStringList statuses;
    QStringList modes;
    QStringList messages;
    int stopFocused = 0;
    // Every progress text shown (not the clearing), and each start (true) and end of a dialogue.
    QStringList progress;
    QList<bool> dialogues;

private:
    UserMessage::Handler m_previous;
};
