#include "FakeForm.h"

#include "meter/ChoiceList.h"
#include "meter/FieldIds.h"
#include "meter/KelvaneFields.h"

#include <QRegularExpression>

using namespace FieldId;

FakeForm::FakeForm(const QString &family)
{
    m_lines[Units] = ChoiceList::Read(KelvaneFields::UnitsFile(family));
    const QStringList alarms = ChoiceList::Read(QStringLiteral("alarms20.dat"));
    for (int id = AlarmFunction0; id < AlarmFunction0 + 4; ++id)
        m_lines[id] = alarms;
    for (int i = 0; i < 4; ++i)
        m_lines[CurveFit].append(KelvaneFields::CurveFitText(i));
}

void FakeForm::SetField(int id, const QString &raw)
{
    QString text = raw;
    if (id != ImageText) {
        text = text.trimmed();
        const qsizetype cut = text.indexOf(QRegularExpression(QStringLiteral("[ =>]")));
        if (cut >= 0)
            text.truncate(cut);
    }
    switch (id) {
    case Units:
        m_selected[id] = ChoiceList::FindBeginningWith(m_lines[id], text);
        break;
    case CurveFit: {
        bool ok = false;
        const int n = text.toInt(&ok);
        if (ok && n >= 0 && n < 4)
            m_selected[id] = n;
        break;
    }
    case AlarmFunction0:
    case AlarmFunction0 + 1:
    case AlarmFunction0 + 2:
    case AlarmFunction0 + 3:
        m_selected[id] = ChoiceList::FindEndingIn(m_lines[id], text);
        break;
    case DacFilterSpin:
    case DacTimeSpin:
    case AdcFilterSpin:
        m_text[id - 1] = text;
        break;
    case Tracking:
    case HoldFlow1:
    case HoldFlow2:
    case LcdBlank:
    case Protocol:
        m_text[id]
            = text == QLatin1String("TRUE") ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        break;
    case PrimaryList:
    case SecondaryList:
    case PointWiseList:
        m_lists[id].append(text);
        break;
    case PrimaryReset:
    case SecondaryReset:
    case PointWiseReset:
        m_lists[id == PrimaryReset     ? PrimaryList
                : id == SecondaryReset ? SecondaryList
                                       : PointWiseList]
            .clear();
        break;
    default:
        m_text[id] = text;
    }
}

QString FakeForm::GetField(int id)
{
    switch (id) {
    case Units:
    case AlarmFunction0:
    case AlarmFunction0 + 1:
    case AlarmFunction0 + 2:
    case AlarmFunction0 + 3: {
        const int line = m_selected.value(id, -1);
        return line >= 0 ? m_lines[id].at(line).right(4) : QString();
    }
    case CurveFit: {
        const int line = m_selected.value(id, -1);
        return line >= 0 ? m_lines[id].at(line) : QString();
    }
    case Tracking:
    case HoldFlow1:
    case HoldFlow2:
    case LcdBlank:
    case Protocol:
        return m_text.value(id) == QLatin1String("TRUE") ? QStringLiteral("TRUE")
                                                         : QStringLiteral("FALSE");
    case PrimaryList:
    case SecondaryList:
    case PointWiseList:
        return m_lists[id].value(m_listPos++);
    case PrimaryReset:
    case SecondaryReset:
    case PointWiseReset:
        m_listPos = 0;
        return {};
    default:
        return m_text.value(id);
    }
}
