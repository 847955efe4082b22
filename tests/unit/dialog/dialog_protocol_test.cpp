// The dialogs of carvix-dialog driven through the protocol in-process, on Qt's offscreen
// platform: a socket pair stands for the runtime's pipe, key presses for the user. Each
// dialog is saved as a picture into the test output folder (CARVIX_DIALOG_SHOTS) and its
// controls are checked for screen-reader names.
#include "carvix/automation/dialog_line.h"
#include "dialogs.h"
#include "protocol_server.h"
#include "test_driver.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using carvix::dialog::ProtocolServer;
using carvix::dialog::TestDriver;
using Fields = std::vector<std::string>;

class DialogProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_), 0);
        server_ = new ProtocolServer(fds_[1], fds_[1]);
        QObject::connect(server_, &ProtocolServer::DialogShown,
                         [this](QDialog* d, const QString& kind) {
                             shown_.push_back(kind.toStdString());
                             last_ = d;
                         });
        QObject::connect(server_, &ProtocolServer::Finished, [this] { finished_ = true; });
        server_->Start();
        EXPECT_EQ(Reply(), (Fields{"OK", "carvix-dialog", "1"}));
    }
    void TearDown() override {
        delete server_;
        QApplication::processEvents();
        ::close(fds_[0]);
        ::close(fds_[1]);
    }

    void Send(const Fields& fields) {
        const std::string line = carvix::dialog::Join(fields) + "\n";
        ASSERT_EQ(::write(fds_[0], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }

    // The next reply line, the event loop running meanwhile; none after `ms`.
    std::optional<Fields> Reply(int ms = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            const std::size_t end = input_.find('\n');
            if (end != std::string::npos) {
                const std::string line = input_.substr(0, end);
                input_.erase(0, end + 1);
                auto fields = carvix::dialog::Split(line);
                return fields ? *fields : Fields{"<malformed>"};
            }
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            char chunk[4096];
            const ssize_t n = ::recv(fds_[0], chunk, sizeof chunk, MSG_DONTWAIT);
            if (n > 0) {
                input_.append(chunk, static_cast<std::size_t>(n));
            }
        }
        return std::nullopt;
    }

    // Lets the event loop handle what was sent (a command without reply).
    void Settle(int ms = 100) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }

    // The open dialog, once shown.
    QDialog* Open() {
        Settle(50);
        return server_->Pending();
    }

    void Keys(std::initializer_list<const char*> words) {
        for (const char* word : words) {
            ASSERT_TRUE(TestDriver::Play(server_->Pending(), QString::fromUtf8(word))) << word;
            Settle(20);
        }
    }

    // Saves the dialog into the test output folder and checks that every control has a
    // screen-reader name.
    void Shoot(QDialog* dialog, const char* name) {
        ASSERT_NE(dialog, nullptr);
        const QString folder =
            qEnvironmentVariable("CARVIX_DIALOG_SHOTS", QStringLiteral("dialog-shots"));
        QDir().mkpath(folder);
        const QPixmap picture = dialog->grab();
        EXPECT_FALSE(picture.isNull());
        EXPECT_TRUE(picture.save(QDir(folder).filePath(QString::fromUtf8(name) + ".png")));
        EXPECT_FALSE(dialog->accessibleName().isEmpty()) << name;
        for (QWidget* w : dialog->findChildren<QWidget*>()) {
            const bool control =
                qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                qobject_cast<QAbstractItemView*>(w) ||
                (qobject_cast<QLabel*>(w) && !qobject_cast<QLabel*>(w)->text().isEmpty());
            if (control && w->isVisibleTo(dialog) && w->parentWidget() != nullptr &&
                !qobject_cast<QAbstractItemView*>(w->parentWidget()->parentWidget())) {
                EXPECT_FALSE(w->accessibleName().isEmpty())
                    << name << ": " << w->metaObject()->className();
            }
        }
    }

    template <class T>
    T* Find(QDialog* dialog) {
        return dialog != nullptr ? dialog->findChild<T*>() : nullptr;
    }

    int fds_[2] = {-1, -1};
    ProtocolServer* server_ = nullptr;
    std::string input_;
    std::vector<std::string> shown_;
    QDialog* last_ = nullptr;
    bool finished_ = false;
};

TEST_F(DialogProtocol, TheReaderChooserOffersReadersWithTheirCardsAndFollowsChanges) {
    Send({"CHOOSE-READER", "Choose the reader that holds the identity card", "Reader A", "vl,zk",
          "Reader B", "zk"});
    QDialog* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Shoot(dialog, "reader-chooser");
    auto* list = Find<QAbstractItemView>(dialog);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(),
              "Reader A (identity card with the VL and the ZK application)");
    Keys({"down"});
    // Reader C comes before B: B stays selected; a pick names its reader.
    Send({"UPDATE-READERS", "Reader C", "contactless", "Reader B", "zk"});
    Settle();
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(list->model()->index(0, 0).data().toString(), "Reader C (contactless card)");
    Keys({"enter"});
    EXPECT_EQ(Reply(), (Fields{"OK", "1", "Reader B"}));
    EXPECT_EQ(server_->Pending(), nullptr);
}

TEST_F(DialogProtocol, TheReaderChooserWaitsForACardThenOffersTheOneInserted) {
    Send({"CHOOSE-READER", ""});
    QDialog* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Shoot(dialog, "reader-waiting");
    auto buttons = dialog->findChildren<QAbstractButton*>();
    ASSERT_FALSE(buttons.isEmpty());
    EXPECT_FALSE(buttons[0]->isEnabled()) << "nothing to use yet";
    Keys({"enter"});
    EXPECT_FALSE(Reply(200)) << "Return picks nothing while it waits";
    Send({"UPDATE-READERS", "Inserted", "vl"});
    Settle();
    EXPECT_TRUE(buttons[0]->isEnabled());
    Keys({"enter"});
    EXPECT_EQ(Reply(), (Fields{"OK", "0", "Inserted"}));
}

TEST_F(DialogProtocol, CancelCloseAndTimeoutEachEndADialogWithoutAnAnswer) {
    Send({"CHOOSE-READER", "", "A", "vl", "B", "vl"});
    ASSERT_NE(Open(), nullptr);
    Keys({"escape"});
    EXPECT_EQ(Reply(), (Fields{"ERR", "cancelled"}));

    Send({"CHOOSE-CERTIFICATE", "", "", "CN=A", "CN=CA", "", "", "unknown", "", "AA", "-"});
    ASSERT_NE(Open(), nullptr);
    Keys({"close"});
    EXPECT_EQ(Reply(), (Fields{"ERR", "cancelled"}));

    Send({"SET-TIMEOUT", "1"});
    EXPECT_EQ(Reply(), (Fields{"OK"}));
    Send({"GET-PIN", "Token", "-", "normal"});
    ASSERT_NE(Open(), nullptr);
    Keys({"type:12"});
    EXPECT_EQ(Reply(3000), (Fields{"ERR", "timeout"}));
    Send({"SET-TIMEOUT", "0"});
    EXPECT_EQ(Reply(), (Fields{"OK"}));
}

TEST_F(DialogProtocol, TheCertificateChooserShowsValidityAndKeyLocationAndPreselects) {
    Send({"CHOOSE-CERTIFICATE", "Sign the block", "Choose the signer", "CN=Signer One, O=Test",
          "CN=Test CA", "2026-01-01 00:00:00", "2027-01-01 00:00:00", "file",
          "/home/u/signer.key.pem", "F282EBA6", "-", "CN=Signer Two, O=Test", "CN=Test CA",
          "2026-02-01 00:00:00", "2028-02-01 00:00:00", "token", "Signing token", "0A1B2C3D",
          "selected"});
    QDialog* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    Shoot(dialog, "certificate-chooser");
    auto* list = Find<QAbstractItemView>(dialog);
    ASSERT_NE(list, nullptr);
    const auto* model = list->model();
    EXPECT_EQ(model->index(0, 4).data().toString(), "in file /home/u/signer.key.pem");
    EXPECT_EQ(model->index(1, 4).data().toString(), "on token Signing token");
    EXPECT_EQ(model->index(1, 2).data().toString(), "2026-02-01 00:00:00");
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Valid until");
    EXPECT_EQ(list->currentIndex().row(), 1) << "the suggested one";
    Keys({"up", "enter"});
    EXPECT_EQ(Reply(), (Fields{"OK", "0"}));
}

TEST_F(DialogProtocol, ThePinPromptNeverShowsThePinAndSaysWhatIsLeft) {
    Send({"GET-PIN", "Signing token", "2", "count-low"});
    QDialog* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    auto* field = Find<QLineEdit>(dialog);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    Keys({"type:12 34"});
    Shoot(dialog, "pin-prompt-tries-left");
    QStringList labels;
    for (QLabel* l : dialog->findChildren<QLabel*>()) {
        labels << l->text();
    }
    EXPECT_TRUE(labels.join('|').contains("2 tries left.")) << labels.join('|').toStdString();
    EXPECT_TRUE(labels.join('|').contains("Signing token"));
    Keys({"enter"});
    EXPECT_EQ(Reply(), (Fields{"OK", "12 34"})) << "spaces and all, escaped on the line";

    Send({"GET-PIN", "Signing token", "1", "final-try+wrong"});
    dialog = Open();
    ASSERT_NE(dialog, nullptr);
    labels.clear();
    for (QLabel* l : dialog->findChildren<QLabel*>()) {
        labels << l->text();
    }
    EXPECT_TRUE(labels.join('|').contains("The PIN was wrong. This is the final try"))
        << labels.join('|').toStdString();
    Shoot(dialog, "pin-prompt-final-try");
    Keys({"escape"});
    EXPECT_EQ(Reply(), (Fields{"ERR", "cancelled"}));

    Send({"GET-PIN", "Signing token", "0", "locked"});
    dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Find<QLineEdit>(dialog), nullptr) << "a locked PIN is not asked for";
    Shoot(dialog, "pin-locked");
    Keys({"enter"});
    EXPECT_EQ(Reply(), (Fields{"ERR", "locked"}));
}

TEST_F(DialogProtocol, ThePinPadNoticeStaysUntilClosedWhileOtherDialogsGoOn) {
    Send({"SHOW-PINPAD", "Reader token"});
    EXPECT_EQ(Reply(), (Fields{"OK"}));
    QDialog* notice = server_->PinPad();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    Shoot(notice, "pin-pad");
    EXPECT_TRUE(notice->findChild<QLabel*>()->text().contains("Enter the PIN on the reader"));
    Send({"CLOSE"});
    EXPECT_EQ(Reply(), (Fields{"OK"}));
    Settle();
    EXPECT_EQ(server_->PinPad(), nullptr);
}

TEST_F(DialogProtocol, AWarningIsAMessageBoxWithTheModulesCaption) {
    Send({"MESSAGE", "Tessaro", "The card was removed.", "48"});
    QDialog* dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Tessaro");
    Shoot(dialog, "warning");
    Keys({"enter"});
    EXPECT_EQ(Reply(), (Fields{"OK"}));
}

TEST_F(DialogProtocol, CommandsSentWhileADialogIsOpenAreAnsweredInTurn) {
    Send({"MESSAGE", "Tessaro", "first", "48"});
    ASSERT_NE(Open(), nullptr);
    Send({"SET-TIMEOUT", "0"});
    Send({"NO-SUCH-COMMAND"});
    EXPECT_FALSE(Reply(200)) << "nothing before the open dialog's answer";
    Keys({"enter"});
    EXPECT_EQ(Reply(), (Fields{"OK"}));
    EXPECT_EQ(Reply(), (Fields{"OK"}));
    const auto error = Reply();
    ASSERT_TRUE(error);
    EXPECT_EQ((*error)[0], "ERR");
    EXPECT_EQ((*error)[1], "protocol");
    // Malformed lines and wrong field counts are errors, never dialogs.
    const std::string broken = "GET-PIN %ZZ - normal\n";
    ASSERT_EQ(::write(fds_[0], broken.data(), broken.size()), static_cast<ssize_t>(broken.size()));
    EXPECT_EQ(Reply().value_or(Fields{}).at(0), "ERR");
    Send({"CHOOSE-CERTIFICATE", "t", "x", "only", "three"});
    EXPECT_EQ(Reply().value_or(Fields{}).at(0), "ERR");
    // Unknown words are refused, never guessed at.
    Send({"GET-PIN", "Token", "3", "almost-locked"});
    EXPECT_EQ(Reply().value_or(Fields{}).at(0), "ERR");
    Send({"CHOOSE-READER", "", "A", "vl,passport"});
    EXPECT_EQ(Reply().value_or(Fields{}).at(0), "ERR");
    Send({"CHOOSE-CERTIFICATE", "", "", "CN=A", "CN=CA", "", "", "cloud", "", "AA", "-"});
    EXPECT_EQ(Reply().value_or(Fields{}).at(0), "ERR");
    EXPECT_EQ(server_->Pending(), nullptr);
}

TEST_F(DialogProtocol, TheEndOfInputClosesAnOpenDialogAndEndsTheProgram) {
    Send({"GET-PIN", "Token", "-", "normal"});
    ASSERT_NE(Open(), nullptr);
    ::shutdown(fds_[0], SHUT_WR);
    Settle(200);
    EXPECT_TRUE(finished_);
    EXPECT_EQ(server_->Pending(), nullptr);
    EXPECT_FALSE(Reply(100)) << "no answer for a dialog nobody waits for";
}

TEST(DialogLine, FieldsSurviveTheLineFormat) {
    const Fields fields{"", "a b", "100%", "line\nbreak\r", "Čitač", "x"};
    const auto back = carvix::dialog::Split(carvix::dialog::Join(fields));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, fields);
    EXPECT_EQ(carvix::dialog::Join({"a b", "%"}), "a%20b %25");
    EXPECT_FALSE(carvix::dialog::Split("bad %2"));
    EXPECT_FALSE(carvix::dialog::Split("bad %G0"));
    EXPECT_EQ(carvix::dialog::Split("a  b")->size(), 3u);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
