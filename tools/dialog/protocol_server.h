// The program's side of the dialog protocol (PROTOCOL.md): reads command lines from one
// descriptor, shows the dialogs they ask for and writes one reply line per command to the
// other, in order. Only UPDATE-READERS is handled while a dialog waits for its answer (and
// never replied to); other commands wait their turn.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <string>
#include <vector>

class QSocketNotifier;

namespace carvix::dialog {

class ReaderDialog;
class PinPadDialog;

class ProtocolServer : public QObject {
    Q_OBJECT
  public:
    /// Reads from `in` and writes to `out`; neither is closed here.
    ProtocolServer(int in, int out, QObject* parent = nullptr);
    ~ProtocolServer() override;

    /// Writes the greeting and starts reading.
    void Start();

    /// The dialog waiting for its answer, or null.
    QDialog* Pending() const { return pending_; }
    /// The PIN-pad notice while it is shown, or null.
    QDialog* PinPad() const;

  signals:
    /// A dialog was shown: "reader", "certificate", "pin", "pinpad" or "message".
    void DialogShown(QDialog* dialog, const QString& kind);
    /// End of input, BYE, or the other side went away: the program ends.
    void Finished();

  private:
    void OnReadable();
    void OnLine(const std::string& line);
    void RunQueued();
    void Run(std::vector<std::string>& command);
    void Show(QDialog* dialog, const QString& kind);
    void OnDialogDone(int result);
    void Reply(std::vector<std::string> fields);
    void Fail(const std::string& reason) { Reply({"ERR", "protocol", reason}); }
    void End();

    int in_;
    int out_;
    QSocketNotifier* notifier_ = nullptr;
    std::string input_;
    std::deque<std::vector<std::string>> queue_;
    QPointer<QDialog> pending_;
    QString pendingKind_;
    QPointer<PinPadDialog> pinPad_;
    int timeoutSeconds_ = 0;
    bool ended_ = false;
};

}  // namespace carvix::dialog
