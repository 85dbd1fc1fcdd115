#pragma once

#include "audit/ConfigDiff.h"
#include "base/SheetPage.h"
#include "meter/FieldRule.h"
#include "meter/MeterSeries.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

class CMeterDoc;
class FieldRules;
class IFieldAccess;
class MeterVars;
class QDateTime;

// One meter series as the program handles a file of it without a window: its document, the
// form's field model over it, its file and list names, its rules of opening, reading, changing,
// converting, saving and sending, and its datasheet. KelvaneSeriesModel and QuixalSeriesModel
// fill in what differs; SeriesModels makes the one a path or a meter needs. tarvik-cli works
// through it and the forms take their names from it, so a check lives in one place.
class MeterSeriesModel
{
public:
    struct Row
    {
        QString caption;
        int id;
        QString text;
    };

    virtual ~MeterSeriesModel();
    MeterSeriesModel(const MeterSeriesModel &) = delete;
    MeterSeriesModel &operator=(const MeterSeriesModel &) = delete;

    virtual MeterSeries::Series Series() const = 0;
    QString Name() const { return MeterSeries::Name(Series()); }
    // ".mtr", ".qxm"
    QString Extension() const { return MeterSeries::Extension(Series()); }
    // The layout file of the series in the data folder ("vars20.dat", "varsQX.dat").
    virtual QString LayoutFile() const = 0;
    // The command lists a read and a send run.
    virtual QString ReadList() const = 0;
    virtual QString SendList() const = 0;
    // The pace of the lists' lines (ListRun::SetPeriodMs) on the series' form, which tarvik-cli
    // keeps as well.
    virtual int ReadPeriodMs() const = 0;
    virtual int SendPeriodMs() const = 0;
    // The title a read gives the document: serial number, "_" and the active range (the
    // Quixal series has one range, "1").
    virtual QString Title(const QString &serial, const QString &range) const = 0;
    // The file name proposed for that title: slashes made "_", the extension added.
    QString FileName(const QString &serial, const QString &range) const;

    CMeterDoc &Document() const { return *m_doc; }
    // The fields a command list fills and reads.
    virtual IFieldAccess &Fields() = 0;

    // Opens path whole and shows it in the fields; false with the reason (a missing, unreadable
    // or empty file, an image not whole, a file of the other series or of no layout).
    bool Open(const QString &path, QString *error);
    // A read list has ended: the image it collected becomes the document's and is shown. False
    // with the reason, and nothing taken, when the meter is of the other series, its firmware
    // has no layout or its image is missing or short.
    bool FinishRead(QString *error);
    // Why an image text read from a meter cannot be taken into doc's table in force: empty
    // when it is whole, else the reason (no image, or "N of the M bytes").
    static QString ReadImageFault(const CMeterDoc &doc, QString text);
    // Collects the fields as Save does and writes path whole (or leaves it as it was).
    bool Save(const QString &path, QString *error);
    // Collects the fields for a send with the meter's active range and puts the image's send
    // text in the field the send list sends.
    virtual void PrepareSend(const QString &activeRange) = 0;
    // The form's Convert to a firmware version as the settings name it; false with the reason
    // when the series has no such layout.
    virtual bool Convert(const QString &target, QString *error) = 0;
    // Every field as the form shows it (a coefficient list one row per line, "NAME[i]").
    virtual std::vector<Row> Rows() = 0;
    // Changes one field by caption or id (NAME[i] for a coefficient) through the series' field
    // rules, each once (FieldRules): empty when taken, else the form's message.
    QString Set(const QString &name, const QString &value);
    // The datasheet the form prints for the file with no meter identified, the clock's date and
    // time those of now.
    virtual SheetPage Sheet(const SheetMetrics &metrics, const QDateTime &now) = 0;

    virtual QString Serial() = 0;
    // The firmware the document works with (a read's answer, else the file's).
    virtual QString Firmware() = 0;
    // The image as the file holds it (hexadecimal text, nothing collected), its bytes, the
    // layout variable at an image offset and the layout section in force ("[4.1A]").
    QString StoredText() const;
    QByteArray ImageBytes() const;
    QString VariableAt(int offset) const;
    // The caption of the field that shows the variable at an image offset (the variable's name
    // when no field shows it; empty past the layout).
    QString CaptionAt(int offset);
    QString Layout() const;
    // The active range the last read's image holds (empty before a read).
    QString ActiveRange() const { return m_activeRange; }

    // Takes image text of the layout section ("[4.1A]") as a document holds it (a form's image
    // about to be sent) and shows it, with the meter's firmware and revision; false when the
    // series has no such layout.
    bool LoadImage(const QString &section, const QString &imageText, const QString &meterVersion,
        const QString &revision);
    // Every field of the configuration as the form shows it, for comparing two of them; the
    // firmware and revision labels are the meter's identity, not its configuration, and stay out.
    std::vector<ConfigDiff::Field> ComparedFields();
    // This being the image sent and stored the meter read back after storing it: empty when
    // every byte is as sent, else the message naming the fields that differ (the bytes, by
    // variable, when no field shows the difference).
    QString StoredDifference(MeterSeriesModel &stored);

protected:
    explicit MeterSeriesModel(std::unique_ptr<CMeterDoc> doc);

    // An empty table of the series' layout section (no entries when the layout file lacks it).
    virtual std::unique_ptr<MeterVars> MakeTable(const QString &section) const = 0;
    // The document into the fields, and back (for a file: the image keeps its range bits).
    virtual void Show() = 0;
    virtual void Collect(bool forFile) = 0;
    // The image text a read list left in the fields.
    virtual QString ReadImageText() = 0;
    // A whole image read from the meter into the document and the fields; the active range it
    // holds.
    virtual QString TakeImage(const QString &text) = 0;
    // The field named by caption or id text (0 for none) and its caption.
    virtual int IdOf(const QString &field) const = 0;
    virtual QString CaptionOf(int id) const = 0;
    // The series' field rules, and whether the rules in force know the fields firmware before
    // 4.1A lacks.
    virtual const FieldRules &Rules() const = 0;
    virtual bool Extended() const { return true; }
    // A value rule has taken (white space around it removed) into its field: an edit's text
    // (its limits on every change are the store's to apply), one line of a coefficient list,
    // a choice or a rule of the series' own; empty when taken, else the form's message.
    virtual void StoreText(int id, const QString &text) = 0;
    virtual QString StoreCoefficient(int id, int index, const QString &text, const QString &caption)
        = 0;
    virtual QString Take(const FieldRule &rule, const QString &value, const QString &caption) = 0;

    std::unique_ptr<CMeterDoc> m_doc;
    QString m_activeRange;

private:
    // One change of a field the rules take, by the field's rule.
    QString SetField(const FieldRule &rule, int index, const QString &value);
};
