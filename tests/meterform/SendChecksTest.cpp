// The checks around a form's Send against the simulated meter: the comparing read, the question
// listing what changes, the as-found copy, the read back, and a meter that stores a byte wrong.
#include "meter/ZarnFormView.h"

#include "audit/AuditLog.h"
#include "audit/AuditSettings.h"
#include "base/Globals.h"
#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueDoc.h"
#include "lists/CQueView.h"
#include "lists/CSerialMeterLink.h"
#include "meter/CMeterDoc.h"
#include "meter/MeterVars.h"
#include "support/TestEnv.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QTreeWidget>

#include <cstring>
#include <map>
#include <memory>

namespace {
class SendChecks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *list : { "read20.que", "send20.que", "41A_Template.mtr" })
            if (!QFile::exists(QString::fromLatin1(list)))
                GTEST_SKIP() << list << " is not among the data files";
        ResetGlobals();
        QDir::setCurrent(TestEnv::WorkDir());
        g_DocVersion = QStringLiteral("4.1A");
        QDir(QStringLiteral("checks")).removeRecursively();
        AuditSettings::SetFolder(QDir::current().filePath(QStringLiteral("checks")));
        AuditSettings::SetAsFoundFolder(QDir::current().filePath(QStringLiteral("checks")));
        AuditSettings::SetCompareBeforeSend(true);
        AuditSettings::SetReadBackAfterSend(true);
        m_oldHandler = UserMessage::SetHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        m_oldInform = UserMessage::SetInformHandler(
            [this](const QString &text, const QString &) { m_messages.append(text); });
        m_oldAsk = UserMessage::SetAskHandler([this](const QString &text, const QString &) {
            m_asked.append(text);
            return m_answer;
        });
        m_oldOpener = ZarnFormView::SetListOpener([this](const QString &name) -> CQueView * {
            ++m_opens[name];
            auto doc = std::make_unique<CQueDoc>();
            if (!doc->OnOpenDocument(name))
                return nullptr;
            auto view = std::make_unique<CQueView>(doc.get());
            CQueView *runner = view.get();
            m_lists[name] = { std::move(doc), std::move(view) };
            return runner;
        });
        m_simImage = QDir::current().filePath(QStringLiteral("checks-sim.mtr"));
        QFile::remove(m_simImage);
        m_document = std::make_unique<CMeterDoc>();
        ASSERT_TRUE(m_document->OnOpenDocument(QStringLiteral("41A_Template.mtr")));
        m_form = std::make_unique<ZarnFormView>(m_document.get());
        m_form->OnInitialUpdate();
    }

    void TearDown() override
    {
        m_form.reset();
        m_document.reset();
        StopSim();
        m_lists.clear();
        ZarnFormView::SetListOpener(m_oldOpener);
        ZarnFormView::SetMeterLink(nullptr);
        UserMessage::SetHandler(m_oldHandler);
        UserMessage::SetInformHandler(m_oldInform);
        UserMessage::SetAskHandler(m_oldAsk);
        AuditSettings::SetFolder(QString());
        AuditSettings::SetAsFoundFolder(QString());
        TestEnv::ReseedWorkDir();
        ResetGlobals();
    }

    // The simulated meter 31415 on range 2, with extra options; the form's link goes to it.
    void StartSim(const QStringList &extra = {})
    {
        m_sim = std::make_unique<QProcess>();
        m_sim->start(TestEnv::MeterSimPath(),
            QStringList { QStringLiteral("--firmware"), QStringLiteral("4.1A"),
                QStringLiteral("--serial"), QStringLiteral("31415"), QStringLiteral("--range"),
                QStringLiteral("2"), QStringLiteral("--interval"), QStringLiteral("600000"),
                QStringLiteral("--image"), m_simImage, QStringLiteral("--data-dir"),
                TestEnv::DataDir() }
                + extra);
        ASSERT_TRUE(m_sim->waitForStarted(5000));
        ASSERT_TRUE(m_sim->waitForReadyRead(5000));
        const QString pty = QString::fromLocal8Bit(m_sim->readLine()).trimmed();
        LinkTiming timing;
        timing.pacingScale = 0.04;
        m_serial = std::make_unique<CSerial>(pty, timing);
        m_serial->SetBaudText(QStringLiteral("9600"));
        ASSERT_EQ(m_serial->OpenPort(), 1) << qPrintable(m_serial->LastError());
        m_link = std::make_unique<CSerialMeterLink>(m_serial.get());
        ZarnFormView::SetMeterLink(m_link.get());
    }

    void StopSim()
    {
        ZarnFormView::SetMeterLink(nullptr);
        m_link.reset();
        if (m_serial)
            m_serial->ClosePort();
        m_serial.reset();
        if (m_sim) {
            m_sim->kill();
            m_sim->waitForFinished(5000);
        }
        m_sim.reset();
    }

    bool ListRuns() const
    {
        for (int id : { ZarnFormView::kReadTimer, ZarnFormView::kCompareTimer,
                 ZarnFormView::kSendTimer, ZarnFormView::kVerifyTimer })
            if (m_form->IsTimerActive(id))
                return true;
        return false;
    }

    // Presses Send and lets the form's timers run it (and the checks around it) to its last
    // message; the trail's last record then.
    AuditRecord Send()
    {
        m_messages.clear();
        m_asked.clear();
        m_form->OnSendActive();
        EXPECT_TRUE(TestEnv::WaitUntil([&] { return !m_messages.isEmpty() && !ListRuns(); }))
            << qPrintable(m_messages.join(QLatin1Char('|')));
        const AuditLog::Loaded trail = AuditLog(AuditSettings::TrailPath()).Load();
        return trail.records.empty() ? AuditRecord() : trail.records.back();
    }

    // The field changes a question lists ("Caption: before -> after").
    static QStringList Changes(const QString &question)
    {
        QStringList lines;
        for (const QString &line : question.split(QLatin1Char('\n')))
            if (line.contains(QLatin1String(" -> ")))
                lines << line;
        return lines;
    }

    void Edit(int id, const QString &text)
    {
        qobject_cast<QLineEdit *>(m_form->Control(id))->setText(text);
    }

    std::unique_ptr<CMeterDoc> m_document;
    std::unique_ptr<ZarnFormView> m_form;
    std::unique_ptr<QProcess> m_sim;
    std::unique_ptr<CSerial> m_serial;
    std::unique_ptr<CSerialMeterLink> m_link;
    QString m_simImage;
    QStringList m_messages;
    QStringList m_asked;
    bool m_answer = true;
    std::map<QString, int> m_opens;
    std::map<QString, std::pair<std::unique_ptr<CQueDoc>, std::unique_ptr<CQueView>>> m_lists;
    ZarnFormView::ListOpener m_oldOpener;
    UserMessage::Handler m_oldHandler;
    UserMessage::Handler m_oldInform;
    UserMessage::AskHandler m_oldAsk;
};

quint32 Stored(const QString &image, const char *name)
{
    CMeterDoc doc;
    return doc.OnOpenDocument(image) ? doc.Vars()->Value(QString::fromLatin1(name), 4) : 0;
}
} // namespace

TEST_F(SendChecks, TheSendShowsWritesAndVerifiesExactlyTheEditsAndCatchesAWrongByte)
{
    StartSim();
    m_form->OnReadActive();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !ListRuns(); }));
    ASSERT_EQ(m_form->GetField(1048), QStringLiteral("31415"));
    const QString relay = m_form->GetField(1012).trimmed();
    const QString modbus = m_form->GetField(1035).trimmed();
    ASSERT_NE(relay, QStringLiteral("2500"));
    ASSERT_NE(modbus, QStringLiteral("17"));
    const QByteArray held = ReadFile(m_simImage);

    // Declined: the meter is read and kept, nothing is written, the trail says so.
    Edit(1012, QStringLiteral("2500"));
    Edit(1035, QStringLiteral("17"));
    m_answer = false;
    m_form->OnSendActive();
    ASSERT_TRUE(TestEnv::WaitUntil([&] { return !m_asked.isEmpty() && !ListRuns(); }));
    EXPECT_TRUE(TestEnv::WaitUntil([&] {
        const auto trail = AuditLog(AuditSettings::TrailPath()).Load().records;
        return !trail.empty() && trail.back().result == QLatin1String("cancelled");
    }));
    EXPECT_EQ(m_opens[QStringLiteral("send20.que")], 0);
    EXPECT_EQ(ReadFile(m_simImage), held);

    // Confirmed: exactly the two edits are listed, meter value -> form value, sent and read back.
    m_answer = true;
    const AuditRecord sent = Send();
    ASSERT_EQ(m_asked.size(), 1);
    EXPECT_EQ(Changes(m_asked.first()),
        (QStringList { QStringLiteral("Relay #2 OFF Value: %1 -> 2500").arg(relay),
            QStringLiteral("Modbus Addr: %1 -> 17").arg(modbus) }));
    EXPECT_TRUE(m_asked.first().contains(QLatin1String(" fields unchanged.")));
    EXPECT_FALSE(m_asked.first().contains(QLatin1String("but the meter connected is")));
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Meter stored the configuration") });
    EXPECT_EQ(m_opens[QStringLiteral("read20.que")], 4) << "the read, two compares, the read back";
    EXPECT_EQ(Stored(m_simImage, "evalue[2]"), 2500u);
    EXPECT_EQ(Stored(m_simImage, "serial_num"), 31415u);
    EXPECT_EQ((QStringList { sent.action, sent.result, sent.serial, sent.message }),
        (QStringList { "send", "ok", "31415", "Meter stored the configuration" }));
    EXPECT_EQ(sent.changes,
        (std::vector<AuditRecord::Change> { { "Relay #2 OFF Value", 1012, relay, "2500" },
            { "Modbus Addr", 1035, modbus, "17" } }));
    // The as-found copies (declined and confirmed) hold the image the meter held.
    const QStringList found = QDir(QStringLiteral("checks/as-found"))
                                  .entryList({ QStringLiteral("31415_*.mtr") }, QDir::Files);
    ASSERT_EQ(found.size(), 2);
    for (const QString &name : found)
        EXPECT_EQ(ReadFile(QStringLiteral("checks/as-found/") + name), held);

    // Both checks off: the send is the list alone, no read before or after, no question.
    AuditSettings::SetCompareBeforeSend(false);
    AuditSettings::SetReadBackAfterSend(false);
    const int reads = m_opens[QStringLiteral("read20.que")];
    Edit(1012, QStringLiteral("2700"));
    const AuditRecord plain = Send();
    EXPECT_EQ(m_opens[QStringLiteral("read20.que")], reads);
    EXPECT_TRUE(m_asked.isEmpty());
    EXPECT_EQ(m_messages, QStringList { QStringLiteral("Meter stored the configuration") });
    EXPECT_EQ(plain.result, QStringLiteral("ok"));
    EXPECT_TRUE(plain.changes.empty());
    EXPECT_EQ(Stored(m_simImage, "evalue[2]"), 2700u);
    AuditSettings::SetCompareBeforeSend(true);
    AuditSettings::SetReadBackAfterSend(true);

    // A meter that stores one byte wrong: the read back names the difference, no success.
    StopSim();
    StartSim({ QStringLiteral("--store-wrong"), QStringLiteral("40") });
    Edit(1012, QStringLiteral("2600"));
    const AuditRecord wrong = Send();
    ASSERT_EQ(m_messages.size(), 1);
    EXPECT_TRUE(m_messages.first().startsWith(
        QLatin1String("The meter did not store the configuration as sent:\n")))
        << qPrintable(m_messages.first());
    EXPECT_EQ(wrong.result, QStringLiteral("mismatch"));
    EXPECT_EQ(wrong.message, m_messages.first());
    EXPECT_EQ(Changes(m_asked.value(0)),
        QStringList { QStringLiteral("Relay #2 OFF Value: 2700 -> 2600") });
}
