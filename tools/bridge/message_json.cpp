#include "message_json.h"

namespace carvix::bridge {
namespace {

struct TooDeep {};

}  // namespace

Json ParseMessageJson(std::string_view text) {
    // The parser itself keeps its own stack; the callback stops it at the first level too deep,
    // before that level's value exists.
    const Json::parser_callback_t bound = [](int depth, Json::parse_event_t event, Json&) {
        if (depth >= kMaxMessageDepth && (event == Json::parse_event_t::object_start ||
                                          event == Json::parse_event_t::array_start)) {
            throw TooDeep{};
        }
        return true;
    };
    try {
        return Json::parse(text, bound, false);
    } catch (const TooDeep&) {
        return Json(Json::value_t::discarded);
    }
}

}  // namespace carvix::bridge
