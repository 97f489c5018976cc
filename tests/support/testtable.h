// Rows of data-driven tests read from table files beside the suites.
#pragma once

#include <QByteArray>
#include <QHash>

// Rows of a data-driven test read from a text file, one row a line, fields
// separated by tabs:
//   # ...                     a comment
//   @name<TAB>value           defines {name} for the lines after it
//   row<TAB>TYPE column...    the first other line: each column's type (int,
//                             bool, QString, QByteArray, QStringList,
//                             QList<qint32>) and name
//   name<TAB>value...         a row, under its name
// In a value, {name} is a definition of the file or one of values, {N*text}
// the text N times, and \HH (two hex digits) the byte HH: \0D\0A is a line
// break of HTTP, \5C a backslash, \7B a '{'. A QStringList is split at '|',
// a QList<qint32> at blanks. A line that does not fit stops the suite.
namespace TestTable {
void load(const char *path, QHash<QByteArray, QByteArray> values = {});
}
