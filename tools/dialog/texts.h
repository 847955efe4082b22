// Every text carvix-dialog shows or gives to screen readers, in one place so that it can be
// translated (English for now; each goes through QCoreApplication::translate, context
// "carvix-dialog").
#pragma once

#include <QString>

namespace carvix::dialog::texts {

QString ProgramTitle();

// The reader chooser.
QString ReaderTitle();
QString ReaderDefaultHeading();
QString ReaderList();
QString ReaderListDescription();
QString ReaderWaiting();
QString ReaderEntry(const QString& reader, const QString& card);
QString CardKinds(const QString& words);  // "vl,zk" -> a readable description

// The certificate chooser.
QString CertificateTitle();
QString CertificateDefaultHeading();
QString CertificateList();
QString CertificateListDescription();
QString CertificateColumns();
QString ColumnSubject();
QString ColumnIssuer();
QString ColumnValidFrom();
QString ColumnValidUntil();
QString ColumnKey();
QString KeyOnToken(const QString& label);
QString KeyInFile(const QString& path);
QString KeyUnknown();

// The PIN prompt and the PIN-pad notice.
QString PinTitle();
QString PinHeading(const QString& token);
QString PinField();
QString PinFieldDescription();
QString PinTriesLeft(int tries);
QString PinWasWrong();
QString PinCountLow();
QString PinFinalTry();
QString PinLocked(const QString& token);
QString PinPadTitle();
QString PinPadHeading(const QString& token);

// Notices.
QString NoticeText();

// Buttons.
QString ButtonOk();
QString ButtonCancel();
QString ButtonClose();
QString ButtonUseReader();
QString ButtonUseCertificate();

}  // namespace carvix::dialog::texts
