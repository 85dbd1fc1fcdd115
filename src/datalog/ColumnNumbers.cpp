#include "datalog/ColumnNumbers.h"

void ColumnNumbers::FromHeaderLine(const QByteArray &line)
{
    // The markers, in column order; each is unique to its column's heading.
    static const char *const kMarkers[kCount]
        = { " Date ", " Time ", " Flow ", "Total ", " High ", "; Low ", "elay1", "elay2" };
    Clear();
    int next = 2;
    for (int q = 0; q < kCount; ++q) {
        if (line.contains(kMarkers[q]))
            m_column[q] = next++;
    }
}
