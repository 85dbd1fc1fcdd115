#pragma once

class CDocManager;
class CSerial;

// The document types of the program, registered in this order: Kelvane meter (.mtr), Quixal
// meter (.qxm), terminal (.trm), datalog (.log), command list (.que), Modbus (.txt). The
// order sets the order of the Open prompt's filters.
class DocTypes
{
public:
    // meterLink gives the meter link the terminal and datalog windows are made with; without
    // it (tests registering the types alone) they have none.
    static void RegisterAll(CDocManager &manager, CSerial *(*meterLink)() = nullptr);
};
