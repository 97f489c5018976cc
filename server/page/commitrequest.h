// The changes of one commit, read from its form fields and checked as a
// whole before anything touches the database: only "SQL" fields, each
// holding one of the control's two statements, all for one employee who may
// be changed. Change N of the list comes from field N.
#pragma once

#include "page/formdecoder.h"
#include "store/changelist.h"

#include <QList>
#include <QString>

namespace VelmoraServerCore::CommitRequest {

struct Refusal
{
    int httpStatus = 400;
    QString reason;
};

// Employee numbers below this cannot be changed: 0 is the number of a
// control whose host never assigned one, and negative numbers name no one.
// Documents are still served for them.
inline constexpr qint32 FirstChangeableEmployee = 1;

// Returns false with a refusal that names the first offending field.
bool fromFields(const QList<FormField> &fields, ChangeList *changes, Refusal *refusal);

// A field as refusals name it, counted from 1: "SQL field 3".
QString fieldName(int number);

} // namespace VelmoraServerCore::CommitRequest
