// Writes the center document that answers GET /Velmora.asp for one
// employee. The control reads it by position only; the element names are
// for people reading it:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <CenterDocument>
//     <Counts><Count><NonSelected>n</NonSelected><Selected>m</Selected></Count></Counts>
//     <NonSelectedCenters><Center><ID>id</ID><Name>name</Name></Center>...</NonSelectedCenters>
//     <SelectedCenters><Center><ID>id</ID><Name>name</Name></Center>...</SelectedCenters>
//   </CenterDocument>
//
// written on one line with no whitespace between elements, so that no
// parser finds a node at a position where the control expects another.
#pragma once

#include "store/center.h"

#include <QByteArray>

namespace VelmoraServerCore {

namespace DocumentWriter {

// UTF-8. The counts are the numbers of records. A name that XML cannot
// carry as it stands is written so that it still reads as one non-empty
// node: characters XML 1.0 forbids become U+FFFD, a carriage return a
// character reference, and a name of blanks only a CDATA section (a
// parser drops blank text).
QByteArray write(const CenterLists &lists);

// The same document in parts, for answers put together from records kept
// between requests: head(n, m), n non-selected records, middle(), m
// selected records, tail().
QByteArray head(qsizetype nonSelected, qsizetype selected);
void appendRecord(QByteArray &out, const Center &center);
QByteArrayView middle();
QByteArrayView tail();

} // namespace DocumentWriter

} // namespace VelmoraServerCore
