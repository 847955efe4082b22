#include "test_driver.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace carvix::dialog {
namespace {

// Pause between two words, so that each one's effect has been handled.
constexpr int kStepMs = 30;

void Key(QWidget* target, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
}

}  // namespace

TestDriver* TestDriver::FromEnvironment(QObject* parent) {
    const QString keys = qEnvironmentVariable("CARVIX_DIALOG_TEST_KEYS");
    const QString shots = qEnvironmentVariable("CARVIX_DIALOG_TEST_SHOTS");
    if ((keys.isEmpty() && shots.isEmpty()) ||
        QGuiApplication::platformName() != QStringLiteral("offscreen")) {
        return nullptr;
    }
    return new TestDriver(keys.split(u';'), shots, parent);
}

TestDriver::TestDriver(QStringList scripts, QString shots, QObject* parent)
    : QObject(parent), scripts_(std::move(scripts)), shots_(std::move(shots)) {}

void TestDriver::OnShown(QDialog* dialog, const QString& kind) {
    const int number = ++shown_;
    if (!shots_.isEmpty()) {
        QDir().mkpath(shots_);
        dialog->grab().save(QDir(shots_).filePath(QStringLiteral("%1-%2-%3.png")
                                                      .arg(QCoreApplication::applicationPid())
                                                      .arg(number)
                                                      .arg(kind)));
    }
    if (scripts_.isEmpty() || scripts_.join(QString()).trimmed().isEmpty()) {
        return;
    }
    const QString script = scripts_[qMin(number, static_cast<int>(scripts_.size())) - 1];
    PlayFrom(dialog, script.split(u' ', Qt::SkipEmptyParts));
}

void TestDriver::PlayFrom(QDialog* dialog, QStringList words) {
    if (words.isEmpty()) {
        return;
    }
    const QString word = words.takeFirst();
    int pause = kStepMs;
    if (word.startsWith(QStringLiteral("wait:"))) {
        pause = word.mid(5).toInt();
    } else {
        Play(dialog, word);
    }
    QPointer<QDialog> guarded(dialog);
    QTimer::singleShot(pause, this, [this, guarded, words] {
        if (guarded) {
            PlayFrom(guarded, words);
        }
    });
}

bool TestDriver::Play(QDialog* dialog, const QString& word) {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr || target->window() != dialog) {
        target = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
    }
    if (word == QStringLiteral("down")) {
        Key(target, Qt::Key_Down);
    } else if (word == QStringLiteral("up")) {
        Key(target, Qt::Key_Up);
    } else if (word == QStringLiteral("home")) {
        Key(target, Qt::Key_Home);
    } else if (word == QStringLiteral("end")) {
        Key(target, Qt::Key_End);
    } else if (word == QStringLiteral("tab")) {
        Key(target, Qt::Key_Tab);
    } else if (word == QStringLiteral("enter")) {
        Key(target, Qt::Key_Return, QStringLiteral("\r"));
    } else if (word == QStringLiteral("escape")) {
        Key(target, Qt::Key_Escape);
    } else if (word == QStringLiteral("close")) {
        dialog->close();
    } else if (word.startsWith(QStringLiteral("type:"))) {
        const QString text = QUrl::fromPercentEncoding(word.mid(5).toUtf8());
        for (const QChar c : text) {
            Key(target, 0, QString(c));
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace carvix::dialog
