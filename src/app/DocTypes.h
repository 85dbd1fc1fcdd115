#pragma once

class CDocManager;

// The document types of the program, registered in this order: Kelvane meter (.mtr), Quixal
// meter (.qxm), terminal (.trm), datalog (.log), command list (.que), Modbus (.txt). The
// order sets the order of the Open prompt's filters.
class DocTypes
{
public:
    static void RegisterAll(CDocManager &manager);
};
