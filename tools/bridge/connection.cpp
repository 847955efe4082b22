#include "connection.h"

#include "message_json.h"

#include <condition_variable>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

namespace carvix::bridge {
namespace {

class RequestQueue {
  public:
    void Push(Json request) {
        const std::lock_guard hold(lock_);
        queue_.push_back(std::move(request));
        ready_.notify_one();
    }
    // The next request, or nothing once the queue closed.
    std::optional<Json> Pop() {
        std::unique_lock hold(lock_);
        ready_.wait(hold, [&] { return closed_ || !queue_.empty(); });
        if (closed_) {
            return std::nullopt;
        }
        Json next = std::move(queue_.front());
        queue_.pop_front();
        return next;
    }
    void Close() {
        const std::lock_guard hold(lock_);
        closed_ = true;
        queue_.clear();
        ready_.notify_all();
    }

  private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Json> queue_;
    bool closed_ = false;
};

bool IsAnswer(const Json& message) {
    if (!message.is_object()) {
        return false;
    }
    const auto op = message.find("op");
    return op != message.end() && op->is_string() && op->get_ref<const std::string&>() == "answer";
}

}  // namespace

Ending Serve(int in, FrameWriter& out, Dispatcher& dispatcher, PromptRelay& relay,
             OriginGate& gate) {
    RequestQueue queue;
    std::thread runner([&] {
        while (std::optional<Json> request = queue.Pop()) {
            relay.BeginRequest();
            const std::string response = dispatcher.Handle(*request);
            if (!response.empty() && !out.Write(response)) {
                std::cerr << "carvix-bridge: a response could not be sent\n";
            }
        }
    });
    Ending ending = Ending::Closed;
    std::string frame;
    for (;;) {
        const ReadStatus status = ReadFrame(in, frame);
        if (status == ReadStatus::Message) {
            Json message = ParseMessageJson(frame);
            if (IsAnswer(message)) {
                // An answer may carry a PIN: no copy of the message stays behind.
                Wipe(frame);
                const auto origin = message.find("origin");
                if (origin != message.end() && origin->is_string() &&
                    !gate.Refusal(origin->get_ref<const std::string&>())) {
                    relay.Deliver(std::move(message));
                } else if (auto pin = message.find("pin");
                           pin != message.end() && pin->is_string()) {
                    Wipe(pin->get_ref<std::string&>());
                }
                continue;
            }
            queue.Push(std::move(message));
            continue;
        }
        if (status == ReadStatus::End) {
            break;
        }
        ending = Ending::Violation;
        if (status == ReadStatus::TooLarge) {
            const std::string refusal = "The message is larger than the host accepts (4 MiB).";
            out.Write(Json{{"id", nullptr},
                           {"ok", false},
                           {"error",
                            {{"hresult", static_cast<std::uint32_t>(E_INVALIDARG)},
                             {"hex", HexCode(E_INVALIDARG)},
                             {"message", refusal}}}}
                          .dump());
        }
        std::cerr << "carvix-bridge: the browser's message stream is broken; closing\n";
        break;
    }
    relay.Close();
    queue.Close();
    runner.join();
    dispatcher.Objects().ReleaseAll();
    return ending;
}

}  // namespace carvix::bridge
