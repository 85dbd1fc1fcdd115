#include "app/DocTypes.h"

#include "app/CDocManager.h"

void DocTypes::RegisterAll(CDocManager &manager)
{
    (void)manager;
    // 1. Kelvane meter form (134)
    // 2. Quixal meter form (141)
    // 3. Terminal (129)
    // 4. Datalog (132)
    // 5. Command list (135)
    // 6. Modbus network (133)
}
