#include "MeterIdentity.h"

#include "base/PrintfText.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace {

// Engineering-unit factors of the meter's firmware (index tables by units code 0..31).
constexpr double kF[31] = { 1.0, 1200.0, 20.0, 72000.0, 1728000.0, -1.0, 1.0, 10.764285147,
    0.0010764, 0.00694444, 60.0, 0.075, 4.5, 108.0, 0.0166666, 28.316846592, 28316.846592,
    1.69901079552, 0.028316846592, 1699.01079552, 283168.46592, 1440000.0, 60000.0, 0.03401942775,
    2.041165665, 0.00056698819453815, 0.00508012634608, 0.3048088, 18.288528, 1728.0, 103680.0 };
constexpr int kAreaF[32] = { 6, 6, 6, 6, 9, 9, 6, 6, 5, 5, 6, 6, 5, 5, 5, 5, 7, 8, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 8, 7, 5 };
constexpr int kFlowF[32] = { 6, 10, 11, 12, 29, 30, 6, 13, 6, 14, 22, 21, 6, 6, 6, 6, 15, 20, 17,
    18, 23, 24, 25, 19, 26, 27, 28, 17, 15, 20, 19, 6 };
// What the meter prints for each units code when no units list is given: four upper-case
// characters, no blanks (the reading-line parser and the identification parse both depend on
// that). With a units list, the first word of each line is printed instead, so the meter and the
// form's Engineering Units list name a code alike.
const char *const kUnitNames[32]
    = { "SFPM", "SFPH", "LBPM", "LBPH", "SCIM", "SCIH", "SCFM", "LBPD", "SFPM", "SFPS", "SCFH",
          "SCFD", "SCFM", "SCFM", "SCFM", "SCFM", "SLPM", "SCCM", "NM3H", "NM3M", "KG/M", "KG/H",
          "KG/S", "NLPH", "KGPD", "NMPS", "NMPM", "NM3H", "SLPM", "SCCM", "NLPH", "SCFM" };

} // namespace

int MeterIdentity::Init(const MeterSettings &settings, QString *error)
{
    m_settings = settings;
    if (m_settings.version.isEmpty())
        m_settings.version = m_settings.quixal ? QStringLiteral("1.4A") : QStringLiteral("4.1A");
    if (m_settings.revision.isEmpty())
        m_settings.revision = QStringLiteral("A");
    if (m_settings.model.isEmpty())
        m_settings.model = m_settings.quixal ? QStringLiteral("500") : QStringLiteral("620");
    m_settings.model = m_settings.model.left(3).rightJustified(3, QLatin1Char('0'));
    const QString section = m_settings.section.isEmpty()
        ? MeterImage::SectionFor(m_settings.quixal, m_settings.version)
        : m_settings.section;
    m_unitNames.clear();
    QFile units(m_settings.unitsFile);
    if (!m_settings.unitsFile.isEmpty() && units.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!units.atEnd() && m_unitNames.size() < 32) {
            const QByteArray word = units.readLine().trimmed().split(' ').value(0).toUpper();
            m_unitNames << (word.isEmpty() || word.size() > 4 ? QString()
                                                              : QString::fromLatin1(word));
        }
    }
    if (!m_image.LoadLayout(m_settings.varsFile, section)) {
        *error = m_image.LastError();
        return 0;
    }

    bool loaded = false;
    if (!m_settings.imageFile.isEmpty() && QFileInfo::exists(m_settings.imageFile)) {
        loaded = m_image.LoadFile(m_settings.imageFile) == 1;
        if (!loaded) {
            *error = QStringLiteral("%1 is not a meter file (two hex digits and a blank per byte)")
                         .arg(m_settings.imageFile);
            return 0;
        }
    }
    if (!loaded) {
        // Factory settings: 80 SCFM full scale over a 1 ft^2 section, linear curve.
        m_image.SetU(QStringLiteral("flow_prec"), 2);
        m_image.SetU(QStringLiteral("flow_func"), 0);
        m_image.SetU(QStringLiteral("serial_num"), 12345678);
        m_image.SetU(QStringLiteral("mode"), 0x20);
        m_image.SetU(QStringLiteral("meter_num"), 5);
        m_image.SetU(QStringLiteral("updating_max"), 10);
        m_image.SetU(QStringLiteral("reporting_max"), 8);
        m_image.SetU(QStringLiteral("adc_val"), 10);
        m_image.SetU(QStringLiteral("dac_val"), 10);
        m_image.SetU(QStringLiteral("pad_1"), 1);
        m_image.SetU(QStringLiteral("pad"), 1);
        m_image.SetU(QStringLiteral("width"), 10);
        m_image.SetU(QStringLiteral("polarity"), 1);
        m_image.SetU(QStringLiteral("uP_assy_rev"), 3);
        m_image.SetU(QStringLiteral("wdt"), 1);
        m_image.SetU(QStringLiteral("curve_fit"), 1);
        m_image.SetF(QStringLiteral("meter_x"), 1.0f);
        m_image.SetF(QStringLiteral("meter_k"), 100.0f);
        m_image.SetF(QStringLiteral("meter_s"), 80.0f);
        m_image.SetF(QStringLiteral("coeff[1]"), 1.0f);
        m_image.SetF(QStringLiteral("coeff[10]"), 1.0f);
        m_image.SetF(QStringLiteral("cutoff"), 1.0f);
        m_image.SetF(QStringLiteral("adc_gain"), 1.0f);
        // Calibration due 01/31/08: month in bits 16-23, day in 24-31, year in 8-15.
        m_image.SetU(QStringLiteral("cal_date"), (31u << 24) | (1u << 16) | (8u << 8));
    }
    m_image.SetU(QStringLiteral("key"), 0xAA);
    if (m_settings.serial >= 0)
        m_image.SetU(QStringLiteral("serial_num"), quint32(m_settings.serial));
    if (m_settings.range >= 1 && m_settings.range <= 4)
        SetRange(m_settings.range);
    SaveImage();
    return 1;
}

int MeterIdentity::Range() const
{
    if (m_image.Has(QStringLiteral("mode"))) {
        const quint32 mode = m_image.GetU(QStringLiteral("mode"));
        return mode == 0xFF ? 1 : int(mode & 3) + 1;
    }
    if (m_image.Has(QStringLiteral("meter_num"))) {
        const quint32 num = m_image.GetU(QStringLiteral("meter_num"));
        return num == 0xFF ? 1 : int((num >> 3) & 3) + 1;
    }
    return m_quixalRange;
}

void MeterIdentity::SetRange(int range)
{
    const quint32 r = quint32(range - 1) & 3;
    if (m_image.Has(QStringLiteral("mode"))) {
        const quint32 old = m_image.GetU(QStringLiteral("mode"));
        const quint32 keep = old == 0xFF ? 0 : (old & 0xC0);
        m_image.SetU(QStringLiteral("mode"), keep | 0x20 | (r << 2) | r);
    } else if (m_image.Has(QStringLiteral("meter_num"))) {
        const quint32 old = m_image.GetU(QStringLiteral("meter_num"));
        const quint32 keep = old == 0xFF ? 0 : (old & 0x80);
        m_image.SetU(QStringLiteral("meter_num"), keep | (40 * r + 5));
    }
    m_quixalRange = int(r) + 1;
}

quint32 MeterIdentity::Serial() const
{
    return m_image.GetU(QStringLiteral("serial_num"));
}

int MeterIdentity::UnitsCode() const
{
    return int(m_image.GetU(QStringLiteral("flow_func")) & 31);
}

QString MeterIdentity::FlowUnits() const
{
    const QString listed = m_unitNames.value(UnitsCode());
    return listed.isEmpty() ? QString::fromLatin1(kUnitNames[UnitsCode()]) : listed;
}

double MeterIdentity::FullScale() const
{
    const int u = UnitsCode();
    const double a = kF[kAreaF[u]];
    const double f = kF[kFlowF[u]];
    const double x = m_image.GetF(QStringLiteral("meter_x"));
    const double s = m_image.GetF(QStringLiteral("meter_s"));
    double fs = (u >= 24 && u <= 26) || a == -1.0 ? s * f : s * f * x;
    if (!std::isfinite(fs) || fs <= 0.0 || fs > 1e9)
        fs = 80.0; // a meter with nonsense in its image still shows a sane display
    return fs;
}

bool MeterIdentity::Tracking() const
{
    const quint32 mode = m_image.GetU(QStringLiteral("mode"));
    return m_settings.tracking >= 0           ? m_settings.tracking == 1
        : m_image.Has(QStringLiteral("mode")) ? (mode != 0xFF && (mode & 0x80))
                                              : (m_image.GetU(QStringLiteral("meter_num")) & 0x80);
}

QString MeterIdentity::XSectText() const
{
    const int area = kAreaF[UnitsCode()];
    const double a = kF[area];
    const double x = m_image.GetF(QStringLiteral("meter_x"));
    const char *unit = area == 9 ? " IN^2"
        : area == 7              ? " M^2"
        : area == 8              ? " CM^2"
        : area == 5              ? ""
                                 : " FT^2";
    double shown = std::fabs(a == -1.0 ? x : x / a);
    if (!std::isfinite(shown))
        shown = 0.0;
    return PrintfText::Format("%f%s", shown, unit);
}

QString MeterIdentity::CalDateText() const
{
    const quint32 d = m_image.GetU(QStringLiteral("cal_date"));
    return PrintfText::Format(
        "%02d/%02d/%02d", int((d >> 16) & 0xFF), int((d >> 24) & 0xFF), int((d >> 8) & 0xFF));
}

QString MeterIdentity::ItemValue(int item) const
{
    switch (item) {
    case 221:
        return CalDateText();
    case 140:
        return PrintfText::Format("%f", FullScale());
    case 813:
        return XSectText();
    case 812: {
        const double z = m_image.GetF(QStringLiteral("coeff[11]"));
        return PrintfText::Format("%e", std::isfinite(z) ? z : 0.0);
    }
    default:
        break;
    }
    return QString();
}

QByteArray MeterIdentity::IdentText() const
{
    // Kept after a non-blank character: on a terminal screen a blank before the "v" would
    // look like the identification line of the main screen.
    return PrintfText::Format("ID:v%s #%u #%d ,%s,%s,%s units", qPrintable(m_settings.version),
        Serial(), Range(), qPrintable(m_settings.model), qPrintable(m_settings.revision.left(1)),
        qPrintable(FlowUnits()))
        .toLatin1();
}

QByteArray MeterIdentity::IdentLine() const
{
    const bool oldFirmware = m_settings.version.startsWith(QLatin1String("3.9"))
        || m_settings.version.startsWith(QLatin1String("4.0"));
    return PrintfText::Format(" %s v%s Rev.%s %s#%d", qPrintable(m_settings.model),
        qPrintable(m_settings.version.left(4)), qPrintable(m_settings.revision.left(1)),
        oldFirmware ? "Meter" : "Range", Range())
        .toLatin1();
}

void MeterIdentity::SaveImage()
{
    if (!m_settings.imageFile.isEmpty() && !m_image.SaveFile(m_settings.imageFile))
        std::fprintf(
            stderr, "tarvik-metersim: cannot write %s\n", qPrintable(m_settings.imageFile));
}
