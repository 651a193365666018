#pragma once

#include <string>

namespace vrax::testing {

// A measured figure for the bench to print after the cases (ctest keeps a passing case's
// output to itself); nothing outside the guest.
void ReportFigure(const std::string& line);
std::string FormatSeconds(double seconds);

// From a program's trace: its transfers, the protocol's waits for them, and the mean time of
// one transfer beyond those waits (the stack's share).
std::string TransferFigure(const std::string& tracePath);
// From a program's trace: how long it went on after its last delivered transfer.
double SecondsAfterTheLastDeliveredTransfer(const std::string& tracePath);

} // namespace vrax::testing
