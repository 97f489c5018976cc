// Reads the center document that the server page sends for one employee.
// Nodes are found by position only: root[0][0][0] and root[0][0][1] are the
// two counts, root[1] and root[2] the unassigned and the assigned centers,
// and in every record child 0 is the ID and child 1 the name. Comments,
// processing instructions, CDATA and non-blank text count as nodes;
// whitespace-only text between elements does not.
#pragma once

#include "core/centerid.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <vector>

namespace VelmoraInternal {

struct CenterRecord
{
    CenterId id;
    QString name;
};

struct CenterDocument
{
    qint16 nonSelectedCount = 0;
    qint16 selectedCount = 0;
    std::vector<CenterRecord> nonSelected;
    std::vector<CenterRecord> selected;
};

class CenterDocumentReader
{
    // Its reasons are meant for the operator, in the operator's language.
    Q_DECLARE_TR_FUNCTIONS(CenterDocumentReader)

public:
    // Reads and checks the whole document. Returns true and fills *document,
    // or returns false and sets *error (may be null) to a reason an operator
    // understands (not XML with line and column, which node is missing,
    // which count is out of range, which record is malformed; records are
    // numbered from 1 within their list). A document that declares
    // ISO-8859-1 or windows-1252 is converted first; anything else must be
    // valid UTF-8 (UTF-16 with a byte order mark is accepted too).
    // Counts may have blanks around them and a sign; IDs must be plain
    // decimal whole numbers (see isDecimalWholeNumber). Only the five
    // predefined entities and character references are read: any other
    // entity reference, even one the document declares, fails the read.
    static bool read(const QByteArray &body, CenterDocument *document, QString *error);
};

} // namespace VelmoraInternal
