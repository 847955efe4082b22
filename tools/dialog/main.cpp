// carvix-dialog: the desktop dialogs of carvix-qx (reader chooser, certificate chooser, PIN
// prompt, PIN-pad notice, message box), started by the automation runtime when a question
// has no host hook to go to. It speaks the line protocol of PROTOCOL.md on its standard
// input and output.
#include "protocol_server.h"
#include "test_driver.h"
#include "texts.h"

#include <QApplication>

#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::puts(
            "usage: carvix-dialog\n"
            "Shows the dialogs of carvix-qx; started by the automation runtime, spoken to\n"
            "on standard input and output (see carvix-dialog(1)).");
        return 0;
    }
    // A PIN passes through this process: no core dumps of it, no attaching to it.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    std::signal(SIGPIPE, SIG_IGN);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("carvix-dialog"));
    QApplication::setApplicationDisplayName(carvix::dialog::texts::ProgramTitle());
    QApplication::setQuitOnLastWindowClosed(false);

    carvix::dialog::ProtocolServer server(STDIN_FILENO, STDOUT_FILENO);
    if (auto* driver = carvix::dialog::TestDriver::FromEnvironment(&app)) {
        QObject::connect(&server, &carvix::dialog::ProtocolServer::DialogShown, driver,
                         &carvix::dialog::TestDriver::OnShown);
    }
    QObject::connect(
        &server, &carvix::dialog::ProtocolServer::Finished, &app, [] { QApplication::exit(0); },
        Qt::QueuedConnection);
    server.Start();
    return QApplication::exec();
}
