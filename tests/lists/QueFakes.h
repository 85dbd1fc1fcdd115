#pragma once

#include "lists/CQueView.h"
#include "lists/IFieldAccess.h"
#include "lists/ListDialogue.h"
#include "support/ImmediateMeterLink.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <utility>

// A meter that answers each read with the next scripted reply (empty once they run out) and
// records every operation as text: "purge", "send:<bytes>", "read:<interval>,<total>".
class FakeMeterLink : public ImmediateMeterLink
{
public:
    QList<QByteArray> replies;
    QStringList calls;

    void PurgeInput() override { calls.append(QStringLiteral("purge")); }
    int Send(const QByteArray &text) override
    {
        calls.append(QStringLiteral("send:") + QString::fromLatin1(text));
        return 1;
    }
    void Read(QByteArray &reply, int intervalMs, int totalConstantMs) override
    {
        calls.append(QStringLiteral("read:%1,%2").arg(intervalMs).arg(totalConstantMs));
        reply = replies.isEmpty() ? QByteArray() : replies.takeFirst();
    }
};

// A form made of a map from control id to text, recording what SetField wrote.
class MapForm : public IFieldAccess
{
public:
    std::map<int, QString> fields;
    QList<std::pair<int, QString>> writes;

    void SetField(int id, const QString &text) override
    {
        fields[id] = text;
        writes.append({ id, text });
    }
    QString GetField(int id) override
    {
        const auto it = fields.find(id);
        return it == fields.end() ? QString() : it->second;
    }
};

// Starts run over the lines view shows, for form against link, and shows it in view, as a meter
// form's lists do; 0 when view shows another run or the run did not start.
inline int StartShown(ListDialogue &run, CQueView *view, IFieldAccess *form, IMeterLink *link,
    int periodMs = 0, ListDialogue::Finished finished = {})
{
    if (view->FollowsOther(&run)
        || !run.Start(view->Lines(), form, link, periodMs, std::move(finished)))
        return 0;
    return view->Follow(&run) ? 1 : 0;
}
