// Committing: post the pending changes, show the server's answer, reload.
// A save that fails keeps the lists as they are, so the operator can retry.

#include "shell/velmora_p.h"

#include "platform/messagebox.h"
#include "core/changeset.h"
#include "core/windows1252.h"

#include <QProgressBar>
#include <QPushButton>
#include <QStringDecoder>

#include <velmora/identity.h>

using namespace VelmoraInternal;

namespace {

// The answer is text for the operator; honour a declared charset, else take
// UTF-8 when it is valid and Windows-1252 otherwise.
QString answerText(const HttpResult &result)
{
    const QByteArray type = result.contentType.toLower();
    const int charsetAt = type.indexOf("charset=");
    if (charsetAt >= 0) {
        QByteArray charset = type.mid(charsetAt + 8).trimmed();
        const int end = charset.indexOf(';');
        if (end >= 0)
            charset.truncate(end);
        charset.replace('"', "");
        if (charset == "windows-1252" || charset == "cp1252" || charset == "iso-8859-1" || charset == "latin1")
            return Windows1252::decode(result.body);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(result.body);
    if (!utf8.hasError())
        return text;
    return Windows1252::decode(result.body);
}

bool holdsMoreThanBlanks(const QString &text)
{
    for (QChar c : text) {
        if (c != QLatin1Char(' '))
            return true;
    }
    return false;
}

} // namespace

Velmora::Private::SaveOutcome Velmora::Private::saveToDatabase()
{
    if (saving || isBusy())
        return SaveOutcome::AlreadyRunning;
    saving = true;
    q->setCursor(Qt::WaitCursor);

    auto itemsOf = [](CenterListView *list) {
        return [list](int i) { return std::make_pair(list->item(i).id, list->item(i).key); };
    };
    QStringList statements;
    if (!ChangeSet::buildStatements(storedEmployeeId,
                                    lstSelectedCenters->count(), itemsOf(lstSelectedCenters),
                                    lstCenters->count(), itemsOf(lstCenters), &statements)) {
        q->unsetCursor();
        saving = false;
        showMessage(q, QStringLiteral("Error Occoured"), QMessageBox::Critical, QStringLiteral("Information"),
                    QStringLiteral("More than %1 changes cannot be saved at once.").arg(ChangeSet::MaxStatements));
        return SaveOutcome::Failed;
    }
    const QByteArray body = ChangeSet::formBody(statements);
    if (body.isEmpty()) {
        q->unsetCursor();
        saving = false;
        return SaveOutcome::NothingToSend;
    }

    const HttpResult result = transfer->post(storedServerName + QStringLiteral("/Velmora.asp"), body,
                                             QByteArrayLiteral("application/x-www-form-urlencoded"));
    q->unsetCursor();
    saving = false;

    if (!result.isSuccess()) {
        QString details = result.error;
        const QString reason = answerText(result).trimmed();
        if (!reason.isEmpty())
            details += QLatin1Char('\n') + reason.left(2000);
        showMessage(q, QStringLiteral("Error During saving to Database"), QMessageBox::NoIcon, QString(), details);
        return SaveOutcome::Failed;
    }
    showServerAnswer(result);
    return SaveOutcome::Saved;
}

void Velmora::Private::showServerAnswer(const HttpResult &result)
{
    const QString answer = answerText(result);
    if (holdsMoreThanBlanks(answer))
        showMessage(q, answer, QMessageBox::Information, QString::fromLatin1(VelmoraIdentity::Title));
}

void Velmora::Private::cmdCommit_Click()
{
    if (saving || isBusy())
        return;
    cmdAdd->setEnabled(false);
    cmdAddAll->setEnabled(false);
    cmdDelete->setEnabled(false);
    cmdRemoveAll->setEnabled(false);
    cmdCommit->setEnabled(false);

    const SaveOutcome outcome = saveToDatabase();
    if (outcome == SaveOutcome::Failed) {
        // Nothing is reloaded: the pending changes stay for a retry.
        cmdCommit->setEnabled(true);
        return;
    }
    if (outcome == SaveOutcome::AlreadyRunning)
        return;
    prbLoad->setValue(0);
    LoadCrossReference(storedEmployeeId, QString());
}
