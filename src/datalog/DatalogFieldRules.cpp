#include "datalog/DatalogFieldRules.h"

#include "base/ScanText.h"

#include <algorithm>
#include <climits>

namespace {

QChar At(const QString &text, qsizetype index)
{
    return index >= 0 && index < text.size() ? text.at(index) : QChar();
}

// The two-character field at the start of text: "00" when it starts with the separator, a
// single digit padded with "0" when the separator follows it.
QString LeadingField(const QString &text, QChar separator)
{
    if (At(text, 0) == separator)
        return QStringLiteral("00");
    if (At(text, 1) == separator)
        return QLatin1Char('0') + text.left(1);
    return text.left(2).rightJustified(2, QLatin1Char('0'));
}

// A text that holds no number becomes "0", as an empty one does; a negative value "0"; upper
// or more (also written with leading zeros, "060") becomes upper itself, so the edit shows the
// value the interval takes.
void Bound(QString &edit, int upper)
{
    const auto value = ScanText::Int(edit);
    if (!value || *value < 0)
        edit = QStringLiteral("0");
    else if (*value >= upper)
        edit = QString::number(upper);
}

// Hour 24 or more: minutes and seconds are "0", whatever they were written as ("00", "-0").
void HourCap(const QString &hour, QString &min, QString &sec)
{
    if (DatalogFieldRules::AtoI(hour) >= 24) {
        min = QStringLiteral("0");
        sec = QStringLiteral("0");
    }
}

} // namespace

QString DatalogFieldRules::NormalizeTriple(const QString &text, QChar separator)
{
    const QString first = LeadingField(text, separator);
    // The second field follows the first separator; without one, the separator is taken to
    // stand at index 2.
    const qsizetype cut = text.indexOf(separator);
    const QString second = LeadingField(text.mid(cut >= 0 ? cut + 1 : 3), separator);
    QString third;
    if (At(text, text.size() - 1) == separator)
        third = QStringLiteral("00");
    else if (At(text, text.size() - 2) == separator)
        third = QLatin1Char('0') + text.right(1);
    else
        third = text.right(2).rightJustified(2, QLatin1Char('0'));
    return first + separator + second + separator + third;
}

void DatalogFieldRules::LeaveHour(QString &hour, QString &min, QString &sec)
{
    Bound(hour, 24);
    HourCap(hour, min, sec);
}

void DatalogFieldRules::LeaveMin(QString &hour, QString &min, QString &sec)
{
    Bound(min, 60);
    HourCap(hour, min, sec);
}

void DatalogFieldRules::LeaveSec(QString &hour, QString &min, QString &sec)
{
    Bound(sec, 60);
    HourCap(hour, min, sec);
}

int DatalogFieldRules::AtoI(const QString &text)
{
    const qint64 value = ScanText::Int(text).value_or(0);
    return int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
}

int DatalogFieldRules::TimeSeconds(const QString &text)
{
    const bool oneDigit = At(text, 1) == u':';
    const int h = AtoI(text.left(oneDigit ? 1 : 2));
    const int m = AtoI(text.mid(oneDigit ? 2 : 3, 2));
    const int s = AtoI(text.mid(oneDigit ? 5 : 6, 2));
    return h * 3600 + m * 60 + s; // each part has at most two characters
}

void DatalogFieldRules::ParseDate(const QString &text, int *year, int *month, int *day)
{
    *year = AtoI(text.right(2));
    const bool oneDigitMonth = At(text, 1) == u'/';
    *month = AtoI(text.left(oneDigitMonth ? 1 : 2));
    const int dayAt = oneDigitMonth ? 2 : 3;
    *day = AtoI(text.mid(dayAt, At(text, dayAt + 1) == u'/' ? 1 : 2));
}

qint64 DatalogFieldRules::IntervalSeconds(
    const QString &hour, const QString &min, const QString &sec)
{
    return qint64(AtoI(hour)) * 3600 + qint64(AtoI(min)) * 60 + qint64(AtoI(sec));
}

int DatalogFieldRules::BytesPerSnapshot(const std::array<bool, 8> &options)
{
    static const int kBytes[8] = { 11, 13, 12, 23, 12, 12, 7, 7 };
    int bytes = 0;
    for (int i = 0; i < 8; ++i)
        bytes += options[i] ? kBytes[i] : 0;
    return bytes;
}

QString DatalogFieldRules::CapacityText(const std::array<bool, 8> &options, unsigned memoryFigure)
{
    if (memoryFigure == 0)
        return QStringLiteral("Press UPDATE Button");
    const int bytes = BytesPerSnapshot(options);
    if (bytes == 0)
        return QStringLiteral("No Options Selected");
    return QString::number(memoryFigure / unsigned(bytes));
}
