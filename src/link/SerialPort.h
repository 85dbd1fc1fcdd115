#pragma once

#include "base/Task.h"
#include "link/LinkTiming.h"
#include "link/PortLock.h"
#include "link/PortSharing.h"
#include "link/SerialDevice.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class DialogueRunner;

// What the meter link and the Modbus port share: the port and baud texts, the enabled flag, the
// lock named after the device given to the constructor, the open device, and the operations
// that do not depend on the line's use. Each subclass gives its character format.
//
// Lock policy: every operation takes the port lock for as long as it touches the device. No
// wait for it ever blocks the event loop: a dialogue's steps (TakeTurn, OpenPortAsync, the
// reads and sends of a runner) wait for it on their runner, at most Timing().lockWaitMs, and the
// plain operations take it only when it is free (or this process holds it already: a claim taken
// with TakeTurn holds it for the dialogue). An operation that does not get the lock gives up
// without touching the device and reports failure the only way it can: 0 from the counting,
// reading, writing and opening operations, an empty reply, nothing done by PurgeInput. The lock
// is not held while the port merely stays open; a second program is kept off an open port by
// SerialDevice's exclusive open, so its OpenPort fails with a clear reason. (Another program
// holds the lock only while it uses the device, so a wait for the lock rarely ends in a device
// that could have been used.)
class SerialPort : public PortSharing
{
public:
    virtual ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the device named by the port text with the baud text's speed: 1, or 0 with the
    // reason in LastError (the lock's holder when the lock was busy: no wait here).
    int OpenPort(int unusedSpeed = 0);
    // OpenPort as a step of a dialogue: a busy lock is waited for on runner (Cancel ends the
    // wait), and the open fails as OpenPort's does when the wait runs out.
    Task<int> OpenPortAsync(DialogueRunner &runner);
    void ClosePort();
    void PurgeInput();
    int PendingCount(int receiveQueue);
    int ReadByte(unsigned char *byte);

    // The waits of a dialogue run by a DialogueRunner: they return to the event loop instead of
    // sleeping. true once a byte is pending; false at the time-out or on Cancel (a closed or
    // disabled port waits out the time-out without spinning; a gone one ends at once).
    Task<bool> InputWithin(DialogueRunner &runner, int timeoutMs);
    // A byte that arrives before deadline: 1 read, 0 none came (time-out, Cancel, closed port).
    Task<int> ReadByteBy(DialogueRunner &runner, unsigned char *byte, QDeadlineTimer deadline);
    // A network port's connection, made on the runner: true at once for a local device (open or
    // not) or a connection already made; false when it failed (refused, no answer within 3 s: the
    // port is then gone and LastError names host, port and why) or on Cancel. The link's own waits
    // and sends wait for it first, so a dialogue need not.
    Task<bool> ConnectedAsync(DialogueRunner &runner);
    // What InputWithin's wait watches now (SerialDevice::WaitHandle); -1 while closed. A reader
    // that waits across a close or reopen compares it to learn that its wait is stale.
    std::intptr_t WaitHandle() const { return m_device.WaitHandle(); }

    // A dialogue's turn at the port: waits on runner, behind the holder and those queued
    // earlier, then for the cross-process lock (at most Timing().lockWaitMs), and gives a Claim
    // that holds both. An unheld Claim when the runner is cancelled (which takes the dialogue out
    // of the queue, so the ones behind it move up), the lock stays busy, the port is closed,
    // disabled or gone, or the port is destroyed meanwhile.
    Task<Claim> TakeTurn(
        DialogueRunner &runner, const void *owner, std::function<void()> cancel = {});

    // The subscribers (PortSharing) are fed by the port's one reader, a wait on the device's
    // notifier from the event loop. DeliverPending reads what is pending now, at most max bytes,
    // into every subscriber's queue (and calls their ready): the reader's step, which a subscriber
    // may also take itself. Nothing is read while a dialogue holds the port, it is disabled or
    // closed, or nobody subscribes. The bytes read.
    int DeliverPending(int max = kBufferSize);

    QString PortText() const { return m_portText; }
    void SetPortText(const QString &text) { m_portText = text; }
    QString BaudText() const { return m_baudText; }
    // The speeds the program offers for a meter link, as the settings list them.
    static QStringList BaudTexts();
    void SetBaudText(const QString &text) { m_baudText = text; }
    int IsEnabled() const { return m_enabled; }
    // Whether a device is open now (the enabled flag is the callers' view; this is the device's).
    bool IsOpen() const { return m_device.IsOpen(); }
    void SetEnabled(int enabled);
    // Why the last OpenPort failed, one line (the operating system's reason), empty if it worked.
    QString LastError() const { return m_lastError; }
    // What a dialogue says when it cannot start because the port is not open: the port's name
    // and, when an open failed, the system's reason on a line of its own; GoneText when the
    // device went away.
    QString NotOpenText() const;

    // A device that went away while open (adapter unplugged, the far end of a pseudo-terminal
    // closed, a write the driver refused) is closed at once and the port marked gone: every
    // wait and send on it ends at once. The port stays enabled, and the next operation (or
    // Revive) opens the same port text again once the device is back, so a by-id name finds
    // the adapter under whatever tty it comes back as. A pseudo-terminal named by its own
    // /dev/pts/N stays gone until the port is opened on purpose: its number is somebody else's.
    bool IsGone() const { return m_gone; }
    // "/dev/ttyUSB0 is gone: the adapter was unplugged or the device closed", with the path of
    // the device that went; for a network port "HOST:PORT is gone: the connection was closed",
    // or why the connection could not be made.
    QString GoneText() const;
    // Reopens a gone port whose device is back; true when the port is open now.
    bool Revive();

    // Receive errors (framing, parity, overrun, break) the driver counted since the last
    // MarkLineErrors (a dialogue's start). Empty where none came or the driver cannot count (a
    // pseudo-terminal); else "The line to the meter had 37 framing errors: check the speed (now
    // 9600) and the format." A telnet server that refused the serial-port option is said here
    // too: its line keeps the server's speed.
    void MarkLineErrors();
    QString LineErrorText() const;
    // The sentence for counts at a speed, for LineErrorText and its tests.
    static QString LineErrorSentence(const SerialDevice::LineErrors &errors, int speed);
    const LinkTiming &Timing() const { return m_timing; }

    static constexpr int kBufferSize = 4096;
    // InputWithin's pause when the port was readable but nothing was pending once it looked.
    static constexpr int kTakenElsewhereMs = 20;
    static constexpr int kTransmitQueue = 256;
    // The reader's longest single wait (begun again after), how often it looks again for a gone
    // device, and how often a dialogue or the reader tries the cross-process lock again.
    static constexpr int kReaderWaitMs = 1000;
    static constexpr int kReviveEveryMs = 100;
    static constexpr int kLockRetryMs = 10;
    // How often a connection being made is looked at, and the least time between two attempts
    // to reconnect a gone network port (a polling reader must not hammer the server).
    static constexpr int kConnectPollMs = 5;
    static constexpr int kNetReviveMs = 1000;

protected:
    SerialPort(const QString &deviceName, const LinkTiming &timing);
    // The character format OpenPort sets (the speed is filled in from the baud text).
    virtual SerialDevice::Format LineFormat() const = 0;
    // Called while the device is still open, just before ClosePort or OpenPort closes it: what
    // must still reach the far end goes out now. Not called by the base destructor (a subclass
    // calls it from its own).
    virtual void BeforeClose() { }
    // Whether a Modbus TCP gateway (modbus-tcp://) can stand behind this port: only the Modbus
    // port's master speaks it; a meter link refuses the text when it opens.
    virtual bool TakesModbusTcp() const { return false; }
    // Enabled := 1, OpenPortAsync on the port's own runner (at once when the lock is free), and
    // on failure the message (with the reason on its own line) and enabled := 0.
    void Reopen(const QString &message);
    // Waits on runner until this port holds the cross-process lock (at once when it is free or
    // held here already), at most Timing().lockWaitMs; the caller releases it. false when the
    // wait ran out (LastError names the holder), on Cancel, or when the port was destroyed.
    Task<bool> LockWithin(DialogueRunner &runner);
    // After a device operation: when the device went away, close it and mark the port gone.
    // True when the port is gone.
    bool NoteGone();
    // Before an operation: a gone port is opened again if its device is back. False when the
    // port stays gone.
    bool ReviveIfGone() { return !m_gone || Revive(); }

    LinkTiming m_timing;
    PortLock m_lock;
    SerialDevice m_device;
    QString m_portText;
    QString m_baudText;
    QString m_lastError;
    int m_enabled = 1;
    bool m_gone = false;
    QString m_gonePath; // the device path that went away
    QString m_goneReason; // a network port's: why it went, or why it could not connect
    QElapsedTimer m_lastNetRevive; // when a gone network port was last reconnected
    // The dialogue that held a network port when its connection broke: it is not given a new
    // connection (whatever it sends next would reach the meter out of context).
    const void *m_goneHolder = nullptr;
    bool m_goneForGood = false; // its name now belongs to another device (a freed pty number)
    SerialDevice::LineErrors m_errorsMark; // the driver's counts at MarkLineErrors

private:
    void OnClaimed() override { MarkLineErrors(); } // a dialogue's line errors count from its start
    void ReleaseLock() override { m_lock.Release(); }
    // Starts or nudges the reader while there are subscribers.
    void OnPortChanged() override;
    // "PORT: the port lock ... stayed busy ...", naming the holder where it can be told.
    QString LockBusyText() const;
    Task<void> Reader();

    std::unique_ptr<DialogueRunner> m_reader; // of Reader, made with the first subscriber
    std::unique_ptr<DialogueRunner> m_opener; // of Reopen's wait for the lock
};
