// One browser port served to its end. The calling thread reads the port: answers to prompts
// go straight to the relay (a call may be waiting for one), everything else is queued for a
// second thread that runs the requests one at a time, in order. When the port closes, open
// prompts are cancelled, queued requests are dropped (their page is gone), the running one is
// finished, and every object the page held is released.
#pragma once

#include "dispatcher.h"
#include "framing.h"
#include "prompt_relay.h"

namespace carvix::bridge {

/// How the connection ended.
enum class Ending {
    Closed,     // the port closed between messages
    Violation,  // a framing violation (oversized or cut-off message, failed read)
};

/// Serves messages from `in`, answering through `out`, until the port closes.
Ending Serve(int in, FrameWriter& out, Dispatcher& dispatcher, PromptRelay& relay,
             OriginGate& gate);

}  // namespace carvix::bridge
