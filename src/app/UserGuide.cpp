#include "app/UserGuide.h"

#include <QStringList>

QString UserGuide::FromReadme(const QString &readme)
{
    const QStringList lines = readme.split(QLatin1Char('\n'));
    QStringList section;
    bool inside = false;
    for (const QString &line : lines) {
        if (line.startsWith(QLatin1String("## "))) {
            if (inside)
                break;
            inside
                = line.trimmed().compare(QLatin1String("## User guide"), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (inside)
            section << line;
    }
    if (!inside && section.isEmpty())
        return QString();
    // Paragraphs are separated by blank lines; the ones about how the pictures are made go.
    const QStringList paragraphs = section.join(QLatin1Char('\n')).split(QStringLiteral("\n\n"));
    QStringList kept;
    for (const QString &paragraph : paragraphs) {
        const QString text = paragraph.trimmed();
        if (!text.isEmpty() && !text.contains(QLatin1String("scripts/")))
            kept << text;
    }
    if (kept.isEmpty())
        return QString();
    return QStringLiteral("# User Guide\n\n") + kept.join(QStringLiteral("\n\n"))
        + QLatin1Char('\n');
}
