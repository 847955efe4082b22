// The dialogs of carvix-dialog: the reader chooser, the certificate chooser, the PIN
// prompt, the PIN-pad notice and the message box. Each is keyboard-usable (the list or the
// field has the focus, Return takes the default button, Escape cancels) and names every
// control for screen readers.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QVector>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace carvix::dialog {

/// The result code of a dialog closed by its time limit.
inline constexpr int kTimedOut = 2;

/// A reader on offer: its name and the protocol's card words ("vl,zk").
struct ReaderItem {
    QString name;
    QString cards;
    bool operator==(const ReaderItem&) const = default;
};

class ReaderDialog : public QDialog {
    Q_OBJECT
  public:
    ReaderDialog(const QString& heading, const QVector<ReaderItem>& readers);
    /// Replaces the list; the selected reader stays selected while it is on it. An empty
    /// list shows that the dialog waits for a card.
    void SetReaders(const QVector<ReaderItem>& readers);
    /// The selected row, or -1.
    int Chosen() const;
    const QVector<ReaderItem>& Readers() const { return readers_; }

  private:
    void UpdateState();

    QVector<ReaderItem> readers_;
    QLabel* heading_;
    QLabel* waiting_;
    QListWidget* list_;
    QPushButton* ok_;
};

/// A certificate on offer, as the protocol gives it.
struct CertificateItem {
    QString subject;
    QString issuer;
    QString notBefore;
    QString notAfter;
    QString keyKind;  // "file", "token" or "unknown"
    QString keyStore;
    QString thumbprint;
    bool selected = false;
};

class CertificateDialog : public QDialog {
    Q_OBJECT
  public:
    CertificateDialog(const QString& heading, const QString& text,
                      const QVector<CertificateItem>& certificates);
    int Chosen() const;

  private:
    QTreeWidget* list_;
    QPushButton* ok_;
};

/// What the PIN prompt shows about the PIN's state.
struct PinState {
    int triesLeft = -1;  // unknown
    bool countLow = false;
    bool finalTry = false;
    bool locked = false;
    bool wasWrong = false;  // the PIN given just before was wrong
};

class PinDialog : public QDialog {
    Q_OBJECT
  public:
    PinDialog(const QString& token, const PinState& state);
    /// The entered PIN as UTF-8; the field is emptied. Call once, after accept.
    QByteArray TakePin();
    /// Whether it only told the user that the PIN is locked.
    bool Locked() const { return pin_ == nullptr; }

  private:
    QLineEdit* pin_ = nullptr;
};

/// "Enter the PIN on the reader": no answer, closed by the caller.
class PinPadDialog : public QDialog {
    Q_OBJECT
  public:
    explicit PinPadDialog(const QString& token);
};

/// A message box: caption, text and the message-box style bits (0x10 error, 0x20
/// question, 0x30 warning, 0x40 information).
class MessageDialog : public QDialog {
    Q_OBJECT
  public:
    MessageDialog(const QString& caption, const QString& text, unsigned styleBits);
};

}  // namespace carvix::dialog
