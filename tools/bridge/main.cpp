// carvix-bridge: the native-messaging host that lets a web page use the scripting classes.
// The browser starts it for one page and talks to it on standard input and output (see
// PROTOCOL.md); it ends when the page's port closes, and everything the page created ends
// with it. Nothing but protocol frames is written to standard output: whatever else the
// process prints goes to standard error.
//
//   carvix-bridge [chrome-extension://ID/ [--parent-window=N]]   (as the browser starts it)
#include "connection.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>

int main() {
    using namespace carvix::bridge;
    // The frames get a descriptor of their own; standard output becomes standard error, so
    // a stray print from any library cannot break the stream.
    const int frames = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (frames < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::cerr << "carvix-bridge: cannot set up standard output\n";
        return 1;
    }
    ::signal(SIGPIPE, SIG_IGN);  // a closed port shows as a failed write

    OriginGate gate(AllowList::Load(std::cerr));
    CoInitialize(nullptr);
    int status = 0;
    {
        FrameWriter out(frames);
        PromptRelay relay([&out](const Json& prompt) {
            return out.Write(prompt.dump(-1, ' ', false, Json::error_handler_t::replace));
        });
        relay.Install();
        Dispatcher dispatcher(gate);
        dispatcher.Objects().OnSnapshot([&relay](bool quiet) { relay.SetQuiet(quiet); });
        status = Serve(STDIN_FILENO, out, dispatcher, relay, gate) == Ending::Closed ? 0 : 1;
        relay.Uninstall();
    }
    CoUninitialize();
    return status;
}
