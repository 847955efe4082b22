#include "connection.h"

#include "message_json.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

namespace carvix::bridge {
namespace {

std::optional<std::int64_t> IdOf(const Json& request) {
    if (!request.is_object()) {
        return std::nullopt;
    }
    const auto id = request.find("id");
    return id != request.end() && id->is_number_integer()
               ? std::optional<std::int64_t>(id->get<std::int64_t>())
               : std::nullopt;
}

// The requests waiting to run, and which one runs. A cancel either marks a waiting request
// (it is answered as cancelled and never runs) or reaches the running one; both are decided
// under one lock, so a request that starts just then is not missed.
class RequestQueue {
  public:
    struct Next {
        Json request;
        bool cancelled = false;
    };

    void Push(Json request) {
        const std::lock_guard hold(lock_);
        queue_.push_back(std::move(request));
        ready_.notify_one();
    }
    // The next request, or nothing once the queue closed. `begin` runs under the lock as
    // the request becomes the running one.
    std::optional<Next> Pop(const std::function<void()>& begin) {
        std::unique_lock hold(lock_);
        ready_.wait(hold, [&] { return closed_ || !queue_.empty(); });
        if (closed_) {
            return std::nullopt;
        }
        Next next{std::move(queue_.front())};
        queue_.pop_front();
        running_ = IdOf(next.request);
        if (running_ && cancelled_.erase(*running_) > 0) {
            next.cancelled = true;
            running_.reset();
        } else {
            begin();
        }
        return next;
    }
    void Finished() {
        const std::lock_guard hold(lock_);
        running_.reset();
    }
    // The page cancelled request `id`: `cancelRunning` runs (under the lock) when it is the
    // running one; a waiting one is marked. A request already answered is left alone.
    void Cancel(std::int64_t id, const std::function<void()>& cancelRunning) {
        const std::lock_guard hold(lock_);
        if (running_ == id) {
            cancelRunning();
            return;
        }
        for (const Json& waiting : queue_) {
            if (IdOf(waiting) == id) {
                cancelled_.insert(id);
                return;
            }
        }
    }
    // Requests not yet run are dropped: their page is gone.
    void Close() {
        const std::lock_guard hold(lock_);
        closed_ = true;
        queue_.clear();
        cancelled_.clear();
        ready_.notify_all();
    }

  private:
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<Json> queue_;
    std::set<std::int64_t> cancelled_;
    std::optional<std::int64_t> running_;
    bool closed_ = false;
};

bool IsOp(const Json& message, std::string_view name) {
    if (!message.is_object()) {
        return false;
    }
    const auto op = message.find("op");
    return op != message.end() && op->is_string() && op->get_ref<const std::string&>() == name;
}

bool FromAllowedOrigin(const Json& message, OriginGate& gate) {
    const auto origin = message.find("origin");
    return origin != message.end() && origin->is_string() &&
           !gate.Refusal(origin->get_ref<const std::string&>());
}

}  // namespace

Ending Serve(int in, FrameWriter& out, Dispatcher& dispatcher, PromptRelay& relay,
             OriginGate& gate) {
    RequestQueue queue;
    std::thread runner([&] {
        while (std::optional<RequestQueue::Next> next =
                   queue.Pop([&relay] { relay.BeginRequest(); })) {
            const std::string response = next->cancelled ? dispatcher.Cancelled(next->request["id"])
                                                         : dispatcher.Handle(next->request);
            queue.Finished();
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
            if (IsOp(message, "cancel")) {
                // Handled at once, like an answer: the request it names may be waiting for
                // the user. A cancel gets no response; the request it names gets one.
                const auto request = message.find("request");
                if (FromAllowedOrigin(message, gate) && request != message.end() &&
                    request->is_number_integer()) {
                    queue.Cancel(request->get<std::int64_t>(), [&relay] { relay.CancelRequest(); });
                }
                continue;
            }
            if (IsOp(message, "answer")) {
                // An answer may carry a PIN: no copy of the message stays behind.
                Wipe(frame);
                if (FromAllowedOrigin(message, gate)) {
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
