#pragma once

#include "base/SheetPage.h"
#include "meter/KelvaneFields.h"
#include "meter/KelvaneFormFields.h"
#include "meterqx/QXFormFields.h"

#include <QString>

class QDateTime;

#include <memory>
#include <vector>

class CMeterDoc;
class IFieldAccess;

// One meter file of either series as the command-line program handles it: the meter document
// with the form's fields over it (KelvaneFormFields or QXFormFields), shown and collected by
// the form's own variable transfers, so that what is written is what the form would write.
class CliMeterFile
{
public:
    enum class Series { Kelvane, Quixal };
    struct Row
    {
        QString caption;
        int id;
        QString text;
    };

    explicit CliMeterFile(Series series);
    ~CliMeterFile();
    // ".qxm" is Quixal, anything else Kelvane.
    static Series SeriesOfPath(const QString &path);
    static QString Extension(Series series);
    static QString SeriesName(Series series);
    Series Kind() const { return m_series; }

    // Opens path and shows it in the fields; false with the reason (a missing or unreadable
    // file, a file of the other series or of no layout).
    bool Open(const QString &path, QString *error);
    // The fields a command list fills and reads.
    IFieldAccess &Fields();
    // A read list has ended: the image it collected becomes the document's and is shown. False
    // with the reason when the meter is of the other series or its image is missing or short.
    bool FinishRead(QString *error);
    // The file name the form proposes after a read: serial number, "_", active range (Quixal
    // "_1") and the extension.
    QString ProposedName() const;
    // Collects the fields as Save does and writes path whole (or leaves it as it was).
    bool Save(const QString &path, QString *error);
    // Collects the fields for a send with the meter's active range and puts the image's send
    // text in the field the send list sends.
    void PrepareSend(const QString &activeRange);

    // The form's Convert to the firmware version target (as the settings name it: "3.9G",
    // "4.0x", ">= 4.1A"; "4.0A", "4.0B" and "4.1A" stand for their families; a Quixal file also
    // takes its own versions): the fields collected, the data moved into the target's layout and
    // shown again. False with the reason when there is no such layout.
    bool Convert(const QString &target, QString *error);
    QString Serial();
    // Every field as the form shows it.
    std::vector<Row> Rows();
    // The datasheet the form prints for the file opened in a window with no meter identified:
    // its fields as the form shows them, the clock's date and time those of now.
    SheetPage Sheet(const SheetMetrics &metrics, const QDateTime &now);
    // Changes one field by caption or id (NAME[i] for a coefficient) through the form's rules;
    // empty when taken, else the form's message.
    QString Set(const QString &name, const QString &value);

    // What the as-found copy and the checks after a send need: the image as the file holds it
    // (hexadecimal text, nothing collected from the fields), its bytes, the layout variable at
    // an image offset, the firmware the document works with and the active range of a read.
    QString StoredText() const;
    QByteArray ImageBytes() const;
    QString VariableAt(int offset) const;
    QString Firmware();
    QString Layout() const; // the layout section in force, "[4.1A]"
    QString ActiveRange() const { return m_activeRange; }

private:
    void Show();
    void Collect(bool forFile);
    QString SetKelvane(int id, int index, const QString &value);
    QString SetQuixal(int id, int index, const QString &value);

    Series m_series;
    std::unique_ptr<CMeterDoc> m_doc;
    KelvaneFormFields m_kelvane;
    QXFormFields m_quixal;
    KelvaneFields::Rules m_rules;
    QString m_activeRange;
};
