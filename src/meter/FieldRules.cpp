#include "meter/FieldRules.h"

#include "base/ScanText.h"
#include "meter/FieldIds.h"

#include <QStringList>

FieldRules::FieldRules(std::vector<FieldRule> rules)
{
    Add(std::move(rules));
}

FieldRules::FieldRules(std::vector<FieldRule> shared, std::vector<FieldRule> own)
{
    Add(std::move(shared));
    Add(std::move(own));
}

void FieldRules::Add(std::vector<FieldRule> rules)
{
    for (FieldRule &rule : rules) {
        if (rule.number) {
            rule.number->id = rule.id;
            m_numbers.push_back(*rule.number);
        }
        m_rules.push_back(std::move(rule));
    }
}

const FieldRule *FieldRules::Find(int id) const
{
    for (const FieldRule &rule : m_rules)
        if (rule.id == id)
            return &rule;
    for (const FieldRule &rule : m_rules)
        if (rule.storedAs == id)
            return &rule;
    return nullptr;
}

std::vector<FieldRule> FieldRules::FlowRows()
{
    using namespace FieldId;
    const Limit zeroOffset = FieldRule::Within(-5.0, "-5.00000", 5.0, "5.00000", false, true);
    return {
        FieldRule::Of(Units, Kind::Choice),
        FieldRule::Of(FullScale).Number(N::Decimal("Full Scale")).Collected(),
        FieldRule::Of(CFactor).Number(N::Decimal("C Factor")).Collected(),
        FieldRule::Of(XSect).Number(N::Decimal("X-Sect")).Collected(),
        FieldRule::Of(MaxRange).Number(N::Decimal("Max Range")).Collected(),
        FieldRule::Of(ZeroCutoff).Number(N::Decimal("Zero Cutoff %")).Collected(),
        FieldRule::Of(ZeroOffset).Number(N::Decimal("Zero Offset")).Limited(zeroOffset).Collected(),
    };
}

QString FieldRules::Limited(const FieldRule::Limit &limit, const QString &text)
{
    double value = 0;
    if (limit.whole) {
        const auto n = ScanText::Int(text);
        if (!n)
            return text;
        value = double(*n);
    } else {
        value = ScanText::Double(text).value_or(0.0);
    }
    if (limit.highText && (value > limit.high || (limit.atHigh && value == limit.high)))
        return QString::fromLatin1(limit.highText);
    if (limit.lowText && value < limit.low)
        return QString::fromLatin1(limit.lowText);
    return text;
}

QString FieldRules::Leave(int id, const QString &text) const
{
    const FieldRule *rule = Find(id);
    return rule && rule->limit ? Limited(*rule->limit, text) : text;
}

QString FieldRules::Changed(int id, const QString &text) const
{
    const FieldRule *rule = Find(id);
    return rule && rule->limit && rule->limit->everyChange ? Limited(*rule->limit, text) : text;
}

bool FieldRules::CollectsOnLeave(int id) const
{
    const FieldRule *rule = Find(id);
    return rule && rule->collectsOnLeave;
}

bool FieldRules::IsReadOnly(int id) const
{
    const FieldRule *rule = Find(id);
    return rule && rule->kind == FieldRule::Kind::ReadOnly;
}

bool FieldRules::Is(int id, Kind kind) const
{
    const FieldRule *rule = Find(id);
    return rule && rule->kind == kind;
}

std::vector<int> FieldRules::IdsOf(Kind kind) const
{
    std::vector<int> ids;
    for (const FieldRule &rule : m_rules)
        if (rule.kind == kind)
            ids.push_back(rule.id);
    return ids;
}

bool FieldRules::HoldsText(int id) const
{
    const FieldRule *rule = Find(id);
    if (!rule || (rule->storedAs != 0 && rule->storedAs != id))
        return false;
    return rule->kind == Kind::Text || rule->kind == Kind::Own || rule->kind == Kind::ReadOnly;
}

int FieldRules::FieldOf(int id) const
{
    const FieldRule *rule = Find(id);
    return rule && rule->storedAs == id ? rule->id : id;
}

bool FieldRules::Lacks(int id, bool extended) const
{
    const FieldRule *rule = Find(id);
    return !extended && rule && rule->early != Early::Kept;
}

QString FieldRules::Refusal(const FieldRule &rule, const QString &caption, const QString &text,
    bool extended, const MeterVars *layout)
{
    if (rule.kind == FieldRule::Kind::ReadOnly)
        return QStringLiteral("%1 is read-only on the form.").arg(caption);
    if (!extended && rule.early != FieldRule::Early::Kept)
        return QStringLiteral("This Field Is Not Supported For Selected Version");
    if (rule.number) {
        if (QString refusal = NumberFieldRules::Refusal(*rule.number, text, layout);
            !refusal.isEmpty())
            return refusal;
    }
    if (rule.kind == FieldRule::Kind::Box) {
        bool on = false;
        if (!BoxValue(text, &on))
            return QStringLiteral("%1 is TRUE or FALSE.").arg(caption);
    } else if (rule.kind == FieldRule::Kind::Coefficients) {
        const NumberFieldRules::Field coefficient { rule.id, "Coefficient",
            NumberFieldRules::Kind::Decimal };
        return NumberFieldRules::Refusal(coefficient, text);
    }
    return QString();
}

bool FieldRules::BoxValue(const QString &text, bool *on)
{
    const QString t = text.trimmed().toLower();
    static const QStringList yes = { QStringLiteral("true"), QStringLiteral("on"),
        QStringLiteral("yes"), QStringLiteral("1") };
    static const QStringList no = { QStringLiteral("false"), QStringLiteral("off"),
        QStringLiteral("no"), QStringLiteral("0") };
    *on = yes.contains(t);
    return *on || no.contains(t);
}
