// The command lists of data/ run by the program's executor over the real meter link against the
// simulated meter, line by line as a form's timer runs them.
#include "../metersim/SimHarness.h"
#include "lists/CQueExecutor.h"
#include "lists/CSerialMeterLink.h"
#include "lists/QueFakes.h"

#include "base/UserMessage.h"
#include "link/CSerial.h"
#include "lists/CQueDoc.h"
#include "support/PtyPair.h"
#include "support/RunToEnd.h"
#include "support/TestEnv.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
// The link's pacing cut to 3 ms a byte; a read's total time-out only the line's constant.
LinkTiming SimLinkTiming()
{
    LinkTiming timing;
    timing.pacingScale = 0.12;
    timing.readMsPerByte = 0;
    timing.lockWaitMs = 300;
    return timing;
}

class CommandListSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = UserMessage::SetHandler([this](const QString &text, const QString &caption) {
            messages.append(caption + "|" + text);
        });
        link.SetSerial(&serial);
    }
    void TearDown() override { UserMessage::SetHandler(m_previous); }

    int StartSim()
    {
        if (!SimHarness::WriteTestLayout(dir.filePath("vars.dat"))
            || !sim.Start({ "--vars", dir.filePath("vars.dat"), "--image", ImagePath(),
                "--interval", "150" }))
            return 0;
        sim.ClosePort(); // the program's link takes the port
        return Open(sim.SlavePath());
    }
    int Open(const QString &path)
    {
        serial.SetPortText(path);
        serial.SetBaudText(QStringLiteral("9600"));
        return serial.OpenPort();
    }
    // Steps the list until it ends or stops, as the form's timer would; its last step's result.
    int Run(const char *list)
    {
        CQueDoc doc;
        if (!doc.OnOpenDocument(TestEnv::WorkDir() + "/" + list))
            return 99;
        CQueExecutor executor;
        executor.SetLines(doc.Lines());
        executor.SetLink(&link);
        DialogueRunner runner;
        for (int step = 0; step < 200; ++step) {
            const int result = RunToEnd(runner, executor.StepAsync(&form, runner));
            executor.ShowMessages();
            if (result != 0)
                return result;
        }
        return 0;
    }
    QString ImagePath() const { return dir.filePath("meter.mtr"); }
    QByteArray ImageFile() const
    {
        QFile file(ImagePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    SimHarness sim;
    CSerial serial { QStringLiteral("COMX-sim-test-%1").arg(::getpid()), SimLinkTiming() };
    CSerialMeterLink link;
    MapForm form;
    QStringList messages;

private:
    UserMessage::Handler m_previous;
};
} // namespace

TEST_F(CommandListSim, ReadListFillsVersionRevisionAndImageText)
{
    ASSERT_EQ(StartSim(), 1) << qPrintable(serial.LastError());
    EXPECT_EQ(Run("read20.que"), 1) << qPrintable(messages.join('\n'));
    EXPECT_EQ(form.fields[1049], QStringLiteral("4.1A"));
    EXPECT_EQ(form.fields[1084], QStringLiteral("A"));
    const QByteArray file = ImageFile();
    ASSERT_FALSE(file.isEmpty());
    EXPECT_EQ(form.fields[1051].toLatin1().left(file.size()), file);
}

TEST_F(CommandListSim, SendListRewritesTheMeter)
{
    ASSERT_EQ(StartSim(), 1) << qPrintable(serial.LastError());
    const QByteArray before = ImageFile();
    QByteArray bytes = QByteArray::fromHex(QByteArray(before).replace(' ', ""));
    ASSERT_EQ(bytes.size(), 26);
    bytes[25] = char(0x42);
    QByteArray send;
    for (char b : bytes)
        send += QByteArray(1, b).toHex().toUpper() + "\r";
    form.fields[1051] = QString::fromLatin1(send);
    EXPECT_EQ(Run("send20.que"), 1) << qPrintable(messages.join('\n'));
    QByteArray expected = before;
    expected.replace(75, 2, "42");
    EXPECT_EQ(ImageFile(), expected);
}

TEST_F(CommandListSim, SilentMeterEndsInTheListsMessage)
{
    PtyPair nobody;
    ASSERT_EQ(Open(nobody.SlavePath()), 1) << qPrintable(serial.LastError());
    EXPECT_EQ(Run("read20.que"), -1);
    EXPECT_EQ(messages, QStringList { "Bad jump lable on line 14|Meter did not answer" });
}
