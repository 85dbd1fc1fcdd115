#pragma once

#include "base/Task.h"

#include <QByteArray>
#include <QString>

class DialogueRunner;
class mbCSerial;

// The Modbus RTU master of the network window: function 3 only, two fixed register blocks per
// meter (dynamic: flow, totalizer, temperature; static: serial number, units, ranges). Owns the
// frame buffer, the CRC, the reception rule with its time limits, the retries and the decoding
// into display texts. On a Modbus TCP port (mbCSerial::IsModbusTcp) the same transactions go
// with the MBAP header instead of the address and CRC: a transaction id of its own per request,
// the meter's address as unit id; a reply whose id or unit is not the request's is refused. The
// Modbus view and the command line's poll own one each and run ReadDynamicAsync / ReadStaticAsync
// as dialogues on a DialogueRunner, so the window stays responsive while a slave answers.
class ModbusMaster
{
public:
    static constexpr int kFrameSize = 256;
    static constexpr int kAttempts = 3;

    // Why the last reception failed. TimedOut and CrcMismatch keep their historical codes 0, 1.
    enum ErrorKind {
        TimedOut = 0,
        CrcMismatch = 1,
        ExceptionReply = 2, // the slave answered with function | 0x80 and an exception code
        WrongAddress = 3, // a reply came from another slave address
        WrongFunction = 4, // a reply carried another function code
        WrongByteCount = 5, // a well-formed reply whose byte count is not what was asked for
        WrongTransaction = 6, // Modbus TCP: a reply to another request (its transaction id)
        WrongUnit = 7, // Modbus TCP: a reply from another unit id
        BadHeader = 8, // Modbus TCP: a protocol id not 0, or a length the reply does not have
    };
    // Modbus TCP: the MBAP header (transaction id, protocol id, length, unit id).
    static constexpr int kMbapSize = 7;

    // Wall-clock limits of one reception, replacing the poll counts of older masters (50,000
    // polls for the header, 30,000 empty polls for the rest). Same structure: one limit for the
    // three header bytes, one for the rest of the frame.
    struct Timing
    {
        // From the request leaving the port to the third reply byte. At 9600 baud 8E1 the
        // 8-byte request takes 9.2 ms on the wire and the 3 header bytes 3.4 ms; a meter's
        // turnaround is normally a few ms to ~100 ms, and common masters allow 500 ms for a
        // whole response. 500 ms leaves a slow meter and a USB adapter's latency
        // (16-32 ms per chunk) ample room, and bounds a dead address to 1.5 s per transaction.
        int headerMs = 500;
        // From the third byte to the last CRC byte. Our largest reply (static block: 20 data
        // bytes + CRC) takes 25 ms at 9600 baud, 200 ms at 1200; the largest frame any slave
        // can announce (251 data bytes + CRC) takes 286 ms at 9600. 350 ms covers all of these
        // plus an adapter's latency.
        int restMs = 350;
        // Requests per transaction before it fails (a slow gateway may want more, a scan fewer).
        int attempts = kAttempts;
        // How long the line must stay quiet after a reply that is refused at its header before
        // the next attempt: its tail is discarded meanwhile (a reply's bytes follow each other
        // with no such gap).
        int quietMs = 20;
    };

    explicit ModbusMaster(mbCSerial *port = nullptr);

    void SetPort(mbCSerial *port) { m_port = port; }
    mbCSerial *Port() const { return m_port; }
    void SetTiming(const Timing &timing) { m_timing = timing; }
    const Timing &GetTiming() const { return m_timing; }

    // CRC-16 of the first count bytes of the frame buffer into CrcLow() / CrcHigh().
    void Crc(int count);
    // The same CRC of any bytes: low byte (sent first) in bits 0-7, high byte in bits 8-15.
    static unsigned short Crc16(const unsigned char *bytes, int count);

    // Build the 8-byte request of a block for the address in frame byte 0 and write it in one
    // WriteBytes; 1 when the port took it. On Modbus TCP the 12-byte request (MBAP header and
    // PDU) goes instead; the frame buffer keeps the RTU request all the same.
    int SendDynamicRequest();
    int SendStaticRequest();
    // One transaction of up to three attempts for the slave whose decimal address is
    // addressText, as a dialogue on runner: every wait (for the header, for the rest of the
    // frame, for a refused reply's tail to fall quiet) returns to the event loop. 1 on success
    // (result texts set); 0 on failure, where it shows no message: the caller decides what to
    // show (FailureText). A Cancel ends it at its next wait with 0.
    Task<int> ReadDynamicAsync(DialogueRunner &runner, QString addressText);
    Task<int> ReadStaticAsync(DialogueRunner &runner, QString addressText);
    // Receives one reply into the frame buffer; 1 = good frame, 0 = failed (ErrorKind set). A
    // Modbus TCP reply is kept there as an RTU frame without its CRC (address, function, count,
    // data), so decoding does not depend on the port's kind.
    Task<int> ReceiveResponseAsync(DialogueRunner &runner);
    // The last Modbus TCP request: 12 bytes, its transaction id counting up from 1.
    QByteArray LastTcpRequest() const { return m_tcpRequest; }

    // Decoding of a block's data bytes (the frame from byte 3 on) into the result texts.
    void DecodeDynamic(const unsigned char *data);
    void DecodeStatic(const unsigned char *data);
    static QString TotalizerText(float value);
    // The slave address of an address text: its leading decimal number, as the C library's
    // atoi reads it ("12x" is 12; "-" and "" are 0).
    static int AddressValue(const QString &text);
    static QString TemperatureText(float value);
    static float FloatAt(const unsigned char *bytes);
    static int IntAt(const unsigned char *bytes);

    // The message of the last failed transaction for addressText ("Address 5: ...").
    QString FailureText(const QString &addressText) const;

    unsigned char *Frame() { return m_frame; }
    const unsigned char *Frame() const { return m_frame; }
    unsigned char CrcLow() const { return m_crcLow; }
    unsigned char CrcHigh() const { return m_crcHigh; }
    int LastErrorKind() const { return m_errorKind; }
    // The exception code, the address or function that came back, or the byte count (by kind).
    int LastErrorDetail() const { return m_errorDetail; }

    QString FlowText() const { return m_flowText; }
    QString TotalizerText() const { return m_totalizerText; }
    QString TemperatureText() const { return m_temperatureText; }
    QString SerialNumberText() const { return m_serialText; }
    QString FlowUnitsText() const { return m_flowUnitsText; }
    QString TotalizerUnitsText() const { return m_totalizerUnitsText; }
    QString MaxRangeText() const { return m_maxRangeText; }
    QString FullScaleText() const { return m_fullScaleText; }

private:
    int SendRequest(unsigned char startLow, unsigned char countLow);
    Task<int> TransactionAsync(DialogueRunner &runner, QString addressText, bool dynamic);
    int Fail(ErrorKind kind, int detail = 0);
    // The reception rule's decisions. After the three header bytes: how many bytes the reply still
    // has, or -1 when it is refused already (error set; what still arrives of it is drained). After
    // those bytes: 1 good frame, or 0.
    int RestAfterHeader();
    int JudgeFrame();
    // The same for a Modbus TCP reply: after the MBAP header, function and byte count (or
    // exception code), the data bytes still to come, 0 for a complete exception reply, or -1.
    int TcpRestAfterHeader(const unsigned char *header);
    Task<int> ReceiveTcpResponseAsync(DialogueRunner &runner);
    bool IsTcp() const;

    mbCSerial *m_port = nullptr;
    Timing m_timing;
    unsigned char m_frame[kFrameSize] = {};
    unsigned char m_crcLow = 0;
    unsigned char m_crcHigh = 0;
    int m_errorKind = TimedOut;
    int m_errorDetail = 0;
    // What the last request asked for, to check the reply against it.
    unsigned char m_requestAddress = 0;
    int m_expectedByteCount = 0;
    unsigned short m_transactionId = 0;
    QByteArray m_tcpRequest;

    QString m_flowText;
    QString m_totalizerText;
    QString m_temperatureText;
    QString m_serialText;
    QString m_flowUnitsText;
    QString m_totalizerUnitsText;
    QString m_maxRangeText;
    QString m_fullScaleText;
};
