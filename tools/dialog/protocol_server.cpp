#include "protocol_server.h"

#include "carvix/automation/dialog_line.h"
#include "dialogs.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace carvix::dialog {
namespace {

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A decimal number of at most 9 digits.
bool Number(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoi(text);
    return true;
}

// Whether each reader's card words are ones this program knows (unknown words fail closed).
bool KnownCards(const std::vector<std::string>& fields, std::size_t first) {
    for (std::size_t i = first + 1; i < fields.size(); i += 2) {
        const QStringList words = Q(fields[i]).split(u',');
        for (const QString& word : words) {
            if (word != QStringLiteral("vl") && word != QStringLiteral("zk") &&
                word != QStringLiteral("contactless") && word != QStringLiteral("card")) {
                return false;
            }
        }
    }
    return true;
}

// Whether every certificate's key kind and selection mark are known words.
bool KnownCertificateWords(const std::vector<std::string>& fields) {
    for (std::size_t i = 3; i + 7 < fields.size(); i += 8) {
        const std::string& kind = fields[i + 4];
        const std::string& mark = fields[i + 7];
        if ((kind != "file" && kind != "token" && kind != "unknown") ||
            (mark != "selected" && mark != "-")) {
            return false;
        }
    }
    return true;
}

// The state word, without its "+wrong" suffix (the PIN given just before was wrong).
std::string PinStateWord(const std::string& state) {
    constexpr std::string_view kWrong = "+wrong";
    return state.ends_with(kWrong) ? state.substr(0, state.size() - kWrong.size()) : state;
}

bool KnownPinState(const std::string& state) {
    const std::string word = PinStateWord(state);
    return word == "normal" || word == "count-low" || word == "final-try" || word == "locked";
}

QVector<ReaderItem> Readers(const std::vector<std::string>& fields, std::size_t first) {
    QVector<ReaderItem> readers;
    for (std::size_t i = first; i + 1 < fields.size(); i += 2) {
        readers.push_back({Q(fields[i]), Q(fields[i + 1])});
    }
    return readers;
}

}  // namespace

ProtocolServer::ProtocolServer(int in, int out, QObject* parent)
    : QObject(parent), in_(in), out_(out) {}

ProtocolServer::~ProtocolServer() {
    delete pending_.data();
    delete pinPad_.data();
    Wipe(input_);
}

QDialog* ProtocolServer::PinPad() const {
    return pinPad_.data();
}

void ProtocolServer::Start() {
    Reply({"OK", "carvix-dialog", "1"});
    notifier_ = new QSocketNotifier(in_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ProtocolServer::OnReadable);
}

void ProtocolServer::OnReadable() {
    char chunk[4096];
    const ssize_t n = ::read(in_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (n <= 0) {
        End();  // the runtime closed its end: whatever is open goes away unanswered
        return;
    }
    input_.append(chunk, static_cast<std::size_t>(n));
    std::memset(chunk, 0, sizeof chunk);
    for (std::size_t end; !ended_ && (end = input_.find('\n')) != std::string::npos;) {
        std::string line = input_.substr(0, end);
        std::memset(input_.data(), 0, end + 1);
        input_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        OnLine(line);
        Wipe(line);
    }
    if (input_.size() > kMaxLine) {
        End();
    }
}

void ProtocolServer::OnLine(const std::string& line) {
    auto fields = Split(line);
    if (!fields || fields->empty()) {
        queue_.push_back({});  // answered in turn as a protocol error
    } else if ((*fields)[0] == "UPDATE-READERS") {
        auto* readers = qobject_cast<ReaderDialog*>(pending_.data());
        if (readers != nullptr && fields->size() % 2 == 1 && KnownCards(*fields, 1)) {
            readers->SetReaders(Readers(*fields, 1));
        }
        return;  // never replied to; ignored without an open reader chooser
    } else {
        queue_.push_back(std::move(*fields));
    }
    RunQueued();
}

void ProtocolServer::RunQueued() {
    while (!ended_ && !pending_ && !queue_.empty()) {
        std::vector<std::string> command = std::move(queue_.front());
        queue_.pop_front();
        Run(command);
        for (std::string& field : command) {
            Wipe(field);
        }
    }
}

void ProtocolServer::Run(std::vector<std::string>& c) {
    if (c.empty()) {
        Fail("malformed line");
        return;
    }
    const std::string& name = c[0];
    int number = 0;
    if (name == "SET-TIMEOUT" && c.size() == 2 && Number(c[1], number)) {
        timeoutSeconds_ = number;
        Reply({"OK"});
    } else if (name == "CHOOSE-READER" && c.size() >= 2 && c.size() % 2 == 0 && KnownCards(c, 2)) {
        Show(new ReaderDialog(Q(c[1]), Readers(c, 2)), QStringLiteral("reader"));
    } else if (name == "CHOOSE-CERTIFICATE" && c.size() >= 11 && (c.size() - 3) % 8 == 0 &&
               KnownCertificateWords(c)) {
        QVector<CertificateItem> certificates;
        for (std::size_t i = 3; i + 7 < c.size(); i += 8) {
            certificates.push_back({Q(c[i]), Q(c[i + 1]), Q(c[i + 2]), Q(c[i + 3]), Q(c[i + 4]),
                                    Q(c[i + 5]), Q(c[i + 6]), c[i + 7] == "selected"});
        }
        Show(new CertificateDialog(Q(c[1]), Q(c[2]), certificates), QStringLiteral("certificate"));
    } else if (name == "GET-PIN" && c.size() == 4 && (c[2] == "-" || Number(c[2], number)) &&
               KnownPinState(c[3])) {
        PinState state;
        state.triesLeft = c[2] == "-" ? -1 : number;
        const std::string word = PinStateWord(c[3]);
        state.countLow = word == "count-low";
        state.finalTry = word == "final-try";
        state.locked = word == "locked";
        state.wasWrong = word != c[3];
        Show(new PinDialog(Q(c[1]), state), QStringLiteral("pin"));
    } else if (name == "MESSAGE" && c.size() == 4 && Number(c[3], number)) {
        Show(new MessageDialog(Q(c[1]), Q(c[2]), static_cast<unsigned>(number)),
             QStringLiteral("message"));
    } else if (name == "SHOW-PINPAD" && c.size() == 2) {
        delete pinPad_.data();
        pinPad_ = new PinPadDialog(Q(c[1]));
        pinPad_->show();
        pinPad_->raise();
        pinPad_->activateWindow();
        emit DialogShown(pinPad_, QStringLiteral("pinpad"));
        Reply({"OK"});
    } else if (name == "CLOSE" && c.size() == 1) {
        delete pinPad_.data();
        Reply({"OK"});
    } else if (name == "BYE" && c.size() == 1) {
        Reply({"OK"});
        End();
    } else {
        Fail("unknown command, wrong number of fields or unknown word: " + name);
    }
}

void ProtocolServer::Show(QDialog* dialog, const QString& kind) {
    pending_ = dialog;
    pendingKind_ = kind;
    connect(dialog, &QDialog::finished, this, &ProtocolServer::OnDialogDone);
    if (timeoutSeconds_ > 0) {
        QTimer::singleShot(timeoutSeconds_ * 1000, dialog, [dialog] { dialog->done(kTimedOut); });
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    emit DialogShown(dialog, kind);
}

void ProtocolServer::OnDialogDone(int result) {
    QDialog* dialog = pending_.data();
    if (dialog == nullptr || sender() != dialog) {
        return;
    }
    pending_ = nullptr;
    dialog->hide();
    dialog->deleteLater();
    if (result == kTimedOut) {
        Reply({"ERR", "timeout"});
    } else if (pendingKind_ == QStringLiteral("message")) {
        Reply({"OK"});
    } else if (result != QDialog::Accepted) {
        auto* pin = qobject_cast<PinDialog*>(dialog);
        if (pin != nullptr) {
            pin->TakePin().fill('\0');  // whatever was typed is dropped
        }
        Reply({"ERR", pin != nullptr && pin->Locked() ? "locked" : "cancelled"});
    } else if (auto* readers = qobject_cast<ReaderDialog*>(dialog)) {
        const int row = readers->Chosen();
        if (row < 0) {
            Reply({"ERR", "cancelled"});
        } else {
            Reply({"OK", std::to_string(row), readers->Readers()[row].name.toStdString()});
        }
    } else if (auto* certificates = qobject_cast<CertificateDialog*>(dialog)) {
        const int row = certificates->Chosen();
        Reply(row < 0 ? std::vector<std::string>{"ERR", "cancelled"}
                      : std::vector<std::string>{"OK", std::to_string(row)});
    } else if (auto* pin = qobject_cast<PinDialog*>(dialog)) {
        QByteArray entered = pin->TakePin();
        std::string text(entered.constData(), static_cast<std::size_t>(entered.size()));
        entered.fill('\0');
        Reply({"OK", text});
        Wipe(text);
    }
    RunQueued();
}

void ProtocolServer::Reply(std::vector<std::string> fields) {
    std::string line = Join(fields);
    for (std::string& field : fields) {
        Wipe(field);
    }
    line.push_back('\n');
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t n = ::write(out_, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            Wipe(line);
            End();  // nobody reads the answers any more
            return;
        }
        written += static_cast<std::size_t>(n);
    }
    Wipe(line);
}

void ProtocolServer::End() {
    if (ended_) {
        return;
    }
    ended_ = true;
    if (notifier_ != nullptr) {
        notifier_->setEnabled(false);
    }
    if (QDialog* dialog = pending_.data()) {
        pending_ = nullptr;
        dialog->deleteLater();
    }
    delete pinPad_.data();
    queue_.clear();
    emit Finished();
}

}  // namespace carvix::dialog
