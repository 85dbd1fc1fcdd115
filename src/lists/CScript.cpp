#include "lists/CScript.h"

namespace {
// White space as the C library knows it: blank, tab, line feed, vertical tab, form feed, CR.
bool IsWhite(QChar c)
{
    const ushort u = c.unicode();
    return u == ' ' || (u >= '\t' && u <= '\r');
}

int SkipWhite(const QString &text, int pos)
{
    while (pos < text.size() && IsWhite(text.at(pos)))
        ++pos;
    return pos;
}
} // namespace

CScript::CScript()
{
    // Callers read as many tokens as a command needs, so an unparsed script answers with blanks.
    for (int i = 0; i < 10; ++i)
        m_tokens.append(QString());
}

bool CScript::HasLabel(const QString &line)
{
    return !line.isEmpty() && line.at(0).unicode() >= '0';
}

QString CScript::LabelOf(const QString &line)
{
    if (!HasLabel(line))
        return QString();
    const int colon = line.indexOf(QLatin1Char(':'));
    return colon < 0 ? line : line.left(colon);
}

void CScript::Parse(const QString &line)
{
    m_line = line;
    m_tokens.clear();
    m_argumentText.clear();

    const QString label = LabelOf(line);
    m_tokens.append(label);

    // Past the label and the character after it: the ":", or for an unlabelled line the blank
    // or tab that starts it.
    int pos = HasLabel(line) ? int(label.size()) + 1 : 1;
    pos = SkipWhite(line, qMin(pos, int(line.size())));

    int end = pos;
    while (
        end < line.size() && line.at(end) != QLatin1Char('(') && line.at(end) != QLatin1Char(' '))
        ++end;
    m_tokens.append(line.mid(pos, end - pos));

    pos = SkipWhite(line, qMin(end + 1, int(line.size())));
    const int argumentsStart = pos;

    QString argument;
    int argumentsEnd = int(line.size());
    while (pos < line.size()) {
        const QChar c = line.at(pos);
        if (c == QLatin1Char('"')) {
            const int close = line.indexOf(QLatin1Char('"'), pos + 1);
            const int stop = close < 0 ? int(line.size()) : close;
            argument += line.mid(pos + 1, stop - pos - 1);
            pos = stop + 1;
            continue;
        }
        if (c == QLatin1Char(',')) {
            m_tokens.append(argument);
            argument.clear();
        } else if (c == QLatin1Char(')')) {
            m_tokens.append(argument);
            argumentsEnd = pos;
            ++pos;
            break;
        } else if (c != QLatin1Char(' ')) {
            argument += c;
        }
        ++pos;
    }
    // An argument still open at the end of the line has no closing ")" or ",": it is dropped.
    pos = qMin(pos, int(line.size()));
    m_argumentText
        = line.mid(argumentsStart, qMin(argumentsEnd, int(line.size())) - argumentsStart);
    m_tokens.append(line.mid(SkipWhite(line, pos)));
}

QString CScript::Token(int index) const
{
    return m_tokens.value(index);
}

int CScript::FindLabel(const QStringList &lines, const QString &label)
{
    if (label.isEmpty())
        return -1;
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        if ((HasLabel(line) ? LabelOf(line) : line) == label)
            return i;
    }
    return -1;
}
