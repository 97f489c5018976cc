// A realistic, fixed sample for demonstrations and first starts: a few
// hundred work centers of a manufacturer with plants in several countries,
// about one in ten inactive, and the assignments of a handful of employees.
// The same data every time, so that a demo and its screenshots repeat.
#pragma once

#include "store/center.h"

#include <QList>

#include <utility>

namespace VelmoraServerCore {

namespace SampleData {

// Ascending IDs, unique names, all within Windows-1252.
const QList<Center> &centers();
// (employee, center) pairs, each once; employees 1 to EmployeeCount.
// A few name centers that are inactive now, as a real history would.
const QList<std::pair<qint32, qint32>> &assignments();

inline constexpr int EmployeeCount = 8;

} // namespace SampleData

} // namespace VelmoraServerCore
