// Test-only: a user at the keyboard, for headless tests that start the program through the
// runtime (where no test can reach the widgets). Active only on Qt's offscreen platform.
//
// CARVIX_DIALOG_TEST_KEYS holds one script per dialog shown, separated by ';', used in
// order (the last one for every later dialog). A script is words separated by spaces:
// "down", "up", "home", "end", "tab", "enter", "escape", "close" (the window's close
// button), "type:TEXT" (each character of TEXT
// typed, after %XX escapes are decoded: "%20" for a space), "wait:MS" (pauses before the next
// word). CARVIX_DIALOG_TEST_SHOTS names a folder: each dialog is saved there when shown, as
// "<process id>-<number>-<kind>.png".
#pragma once

#include <QDialog>
#include <QObject>
#include <QStringList>

namespace carvix::dialog {

class TestDriver : public QObject {
    Q_OBJECT
  public:
    /// A driver configured from the environment, or null when none is asked for (or the
    /// platform is not offscreen).
    static TestDriver* FromEnvironment(QObject* parent);

    /// Saves the dialog's picture (when asked to) and plays the next script on it.
    void OnShown(QDialog* dialog, const QString& kind);

    /// Plays one word on `dialog`; false for a word it does not know.
    static bool Play(QDialog* dialog, const QString& word);

  private:
    TestDriver(QStringList scripts, QString shots, QObject* parent);
    void PlayFrom(QDialog* dialog, QStringList words);

    QStringList scripts_;
    QString shots_;
    int shown_ = 0;
};

}  // namespace carvix::dialog
