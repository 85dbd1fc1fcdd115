#pragma once

#include <QByteArray>

#include <array>

// Where each of the eight logged quantities stands in a log row: the 1-based field number after
// splitting the row at ";" (field 1 is the row number, 0 = not logged). Computed from a log's
// column header line (";Line ; Date ; Time ; ...") when logging starts and when a log is loaded;
// the log graph reads its flow and relay columns from here.
class ColumnNumbers
{
public:
    enum Quantity { Date, Time, Flow, Total, High, Low, Relay1, Relay2, kCount };

    void Clear() { m_column.fill(0); }
    // Numbers the quantities found in one header line, counting from 2 (after the row number)
    // afresh for every line. The Total column is found by "Total ", which the column header
    // holds as "; Total ".
    void FromHeaderLine(const QByteArray &line);

    int Of(Quantity q) const { return m_column[q]; }
    void Set(Quantity q, int column) { m_column[q] = column; }
    bool operator==(const ColumnNumbers &other) const = default;

private:
    std::array<int, kCount> m_column {};
};
