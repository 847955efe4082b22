#include "texts.h"

#include <QCoreApplication>
#include <QStringList>

namespace carvix::dialog::texts {
namespace {

QString T(const char* text) {
    return QCoreApplication::translate("carvix-dialog", text);
}

}  // namespace

QString ProgramTitle() {
    return T("Smart card");
}

QString ReaderTitle() {
    return T("Choose a reader");
}
QString ReaderDefaultHeading() {
    return T("Choose the reader that holds the card.");
}
QString ReaderList() {
    return T("Readers");
}
QString ReaderListDescription() {
    return T("The readers whose card can be used");
}
QString ReaderWaiting() {
    return T("No reader holds a suitable card. Insert one, or cancel.");
}
QString ReaderEntry(const QString& reader, const QString& card) {
    return T("%1 (%2)").arg(reader, card);
}
QString CardKinds(const QString& words) {
    const QStringList list = words.split(u',', Qt::SkipEmptyParts);
    const bool vl = list.contains(QStringLiteral("vl"));
    const bool zk = list.contains(QStringLiteral("zk"));
    if (list.contains(QStringLiteral("contactless"))) {
        return T("contactless card");
    }
    if (vl && zk) {
        return T("identity card with the VL and the ZK application");
    }
    if (vl) {
        return T("identity card with the VL application");
    }
    if (zk) {
        return T("identity card with the ZK application");
    }
    return T("smart card");
}

QString CertificateTitle() {
    return T("Choose a certificate");
}
QString CertificateDefaultHeading() {
    return T("Several certificates can be used. Choose one.");
}
QString CertificateList() {
    return T("Certificates");
}
QString CertificateListDescription() {
    return T("Subject, issuer, validity and key location of each certificate");
}
QString CertificateColumns() {
    return T("Columns");
}
QString ColumnSubject() {
    return T("Subject");
}
QString ColumnIssuer() {
    return T("Issuer");
}
QString ColumnValidFrom() {
    return T("Valid from");
}
QString ColumnValidUntil() {
    return T("Valid until");
}
QString ColumnKey() {
    return T("Key");
}
QString KeyOnToken(const QString& label) {
    return T("on token %1").arg(label);
}
QString KeyInFile(const QString& path) {
    return T("in file %1").arg(path);
}
QString KeyUnknown() {
    return T("unknown");
}

QString PinTitle() {
    return T("PIN");
}
QString PinHeading(const QString& token) {
    return T("Enter the PIN of token \"%1\".").arg(token);
}
QString PinField() {
    return T("PIN");
}
QString PinFieldDescription() {
    return T("The PIN is not shown as you type it");
}
QString PinTriesLeft(int tries) {
    return tries == 1 ? T("1 try left.") : T("%1 tries left.").arg(tries);
}
QString PinWasWrong() {
    return T("The PIN was wrong.");
}
QString PinCountLow() {
    return T("A wrong PIN was entered before: few tries are left.");
}
QString PinFinalTry() {
    return T("This is the final try: a wrong PIN locks the token.");
}
QString PinLocked(const QString& token) {
    return T("The PIN of token \"%1\" is locked. It cannot be used until it is unblocked.")
        .arg(token);
}
QString PinPadTitle() {
    return T("PIN pad");
}
QString PinPadHeading(const QString& token) {
    return T("Enter the PIN on the reader for token \"%1\".").arg(token);
}

QString NoticeText() {
    return T("Message");
}

QString ButtonOk() {
    return T("OK");
}
QString ButtonCancel() {
    return T("Cancel");
}
QString ButtonClose() {
    return T("Close");
}
QString ButtonUseReader() {
    return T("Use this reader");
}
QString ButtonUseCertificate() {
    return T("Use this certificate");
}

}  // namespace carvix::dialog::texts
