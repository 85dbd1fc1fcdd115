// What a Modbus slave answers: the reply bytes reach the master's reception through a real port
// (a pseudo-terminal whose far end plays the slave), then the decoding of both register blocks.
// Byte 0 is the address asked, bit 0 of byte 1 the block; the rest is the reply. Reception runs
// with no time allowance once every byte is queued, so each input costs no waiting.
#include "FuzzEnv.h"
#include "support/PtyPair.h"

#include "base/DialogueRunner.h"
#include "link/mbCSerial.h"
#include "modbus/ModbusMaster.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include <unistd.h>

namespace {

struct Bus
{
    PtyPair pty;
    std::unique_ptr<mbCSerial> port;
};

Bus *OpenBus()
{
    auto *bus = new Bus;
    if (!bus->pty.IsValid())
        std::abort();
    bus->port = std::make_unique<mbCSerial>(bus->pty.SlavePath());
    bus->port->SetPortText(bus->pty.SlavePath());
    bus->port->SetBaudText(QStringLiteral("115200"));
    bus->port->SetParityText(QStringLiteral("1 8 NONE 1"));
    if (!bus->port->OpenPort())
        std::abort();
    return bus;
}

// Reads and drops what the master sent (its request).
void DropRequest(int master)
{
    char sink[512];
    while (::read(master, sink, sizeof sink) > 0) { }
}

Task<void> Receive(ModbusMaster &master, DialogueRunner &runner, int &result)
{
    result = co_await master.ReceiveResponseAsync(runner);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzEnv::Init();
    static Bus *bus = OpenBus(); // one port for the whole run
    if (size < 2)
        return 0;
    const QByteArray reply = FuzzEnv::Bytes(data + 2, qMin<size_t>(size - 2, 1024));
    const bool dynamic = (data[1] & 1) == 0;

    ModbusMaster master(bus->port.get());
    master.SetTiming({ 0, 0 });
    bus->port->PurgeInput();
    master.Frame()[0] = data[0];
    if (!(dynamic ? master.SendDynamicRequest() : master.SendStaticRequest()))
        std::abort();
    DropRequest(bus->pty.MasterFd());
    if (!bus->pty.Send(reply))
        std::abort();
    // The pseudo-terminal hands bytes over asynchronously: wait until all are queued.
    for (int i = 0; i < 2000 && bus->port->PendingCount(1) < reply.size(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    // The reception the program runs, as a dialogue: with every byte queued and no time allowed
    // it never waits, so it ends within Start and needs no event loop.
    static DialogueRunner runner;
    int received = -1;
    runner.Start(Receive(master, runner, received));
    if (received < 0)
        std::abort(); // it waited after all
    if (received) {
        if (dynamic)
            master.DecodeDynamic(master.Frame() + 3);
        else
            master.DecodeStatic(master.Frame() + 3);
    } else {
        (void)master.FailureText(QStringLiteral("1"));
    }
    bus->port->PurgeInput();

    // The decoding alone, over the reply's bytes as data.
    unsigned char block[32] = {};
    std::memcpy(block, reply.constData(), size_t(qMin<qsizetype>(reply.size(), 32)));
    master.DecodeDynamic(block);
    master.DecodeStatic(block);
    (void)ModbusMaster::AddressValue(QString::fromLatin1(reply));
    return 0;
}
