// The changes of one commit, checked as a whole before anything touches the
// database: only "SQL" fields, each holding one of the control's two
// statements, all for one employee who may be changed.
#pragma once

#include "formdecoder.h"
#include "statementparser.h"

#include <QList>
#include <QString>

namespace VelmoraServerCore {

class CommitRequest
{
public:
    struct Entry
    {
        int field = 0; // 1-based position of its "SQL" field, for reasons
        Statement statement;
    };

    struct Refusal
    {
        int httpStatus = 400;
        QString reason;
    };

    // Employee numbers below this cannot be changed: 0 is the number of a
    // control whose host never assigned one, and negative numbers name no
    // one. Documents are still served for them.
    static constexpr qint32 FirstChangeableEmployee = 1;

    // Returns false with a refusal that names the first offending field.
    static bool fromFields(const QList<FormField> &fields, CommitRequest *request, Refusal *refusal);

    qint32 employee() const { return m_employee; }
    const QList<Entry> &entries() const { return m_entries; }

private:
    qint32 m_employee = 0;
    QList<Entry> m_entries;
};

} // namespace VelmoraServerCore
