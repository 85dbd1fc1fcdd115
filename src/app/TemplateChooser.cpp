#include "app/TemplateChooser.h"

#include "base/AppServices.h"
#include "base/Globals.h"
#include "base/MeterSession.h"

QString TemplateChooser::KelvaneTemplate()
{
    g_DocKind = 1;
    const auto is
        = [](const QString &value, const char *text) { return value == QLatin1String(text); };
    if (is(g_DocVersion, "3.9E") || is(AppServices::Meter().Version(), "3.9E"))
        return QStringLiteral("39E_Template.mtr");
    if (is(g_DocVersion, "3.9G") || is(AppServices::Meter().Version(), "3.9G"))
        return QStringLiteral("39G_Template.mtr");
    if (is(g_DocVersion, "4.0x") || is(AppServices::Meter().Version(), "4.0A")
        || is(AppServices::Meter().Version(), "4.0B"))
        return QStringLiteral("40x_Template.mtr");
    if (is(AppServices::Meter().Model(), "500")) {
        g_DocVersion = QStringLiteral("1.0A");
        return QString();
    }
    g_DocVersion = QStringLiteral("4.1A");
    return QStringLiteral("41A_Template.mtr");
}
