// The connected meter's serial number, from the identification text it prints after six ".".
#include "meter/MeterIdentText.h"

#include <gtest/gtest.h>

TEST(MeterIdentText, TakesFirmwareSerialAndRangeAndNeverAGuessedSerial)
{
    struct Case
    {
        QByteArray text;
        const char *firmware;
        const char *serial;
        const char *range;
    };
    const Case cases[] = {
        { "ID:v4.1A #24681357 #2 ,620,C,SCFM units\r\n", "v4.1A", "24681357", "2" },
        { "\r\nv4.0B  ##  0731  # 3 ,,,LBPM units", "v4.0B", "0731", "3" },
        // Echoes and a reading before it are skipped up to the first "v".
        { "......\r\n12.5 SCFM\r\nv1.4A #55501 #1 ,,,SLPM units", "v1.4A", "55501", "1" },
        // Without a serial number: the one word after a mark is the range, never the serial.
        { "v4.1A #2 ,620,C,SCFM units", "v4.1A", "", "2" },
        { "v4.1A # #2 ,620,C,SCFM units", "v4.1A", "", "2" },
        { "v4.1A ,620,C,SCFM units", "v4.1A", "", "" },
        // A serial whose line ends before the range: not taken from the next line.
        { "v4.1A #777\r\n#3 ,,,SCFM units", "v4.1A", "", "7" },
        { "v4.1A", "v4.1A", "", "" },
        { "", "", "", "" },
        { "no identification here\r\n", "", "", "" },
    };
    for (const Case &c : cases) {
        const MeterIdentText::Fields fields = MeterIdentText::Parse(c.text);
        EXPECT_EQ(fields.firmware, QLatin1String(c.firmware)) << c.text.constData();
        EXPECT_EQ(fields.serial, QLatin1String(c.serial)) << c.text.constData();
        EXPECT_EQ(fields.range, QLatin1String(c.range)) << c.text.constData();
    }
}
