#include "control/job/ProgressEvents.h"

#include <nlohmann/json.hpp>

#include "control/job/ProgressProtocol.h"

namespace spatialmux {

namespace protocol = progress_protocol;

std::optional<ProgressEvent> ParseProgressLine(const std::string& line) {
    const std::string prefix = std::string(protocol::kLinePrefix) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const nlohmann::json object = nlohmann::json::parse(line.substr(prefix.size()), nullptr, false);
    if (!object.is_object()) return std::nullopt;
    const auto text = [&object](const char* key) {
        const auto value = object.find(key);
        return value != object.end() && value->is_string() ? value->get<std::string>()
                                                           : std::string();
    };
    ProgressEvent event;
    const std::string kind = text("event");
    if (kind == protocol::kStart) {
        event.kind = ProgressEvent::Kind::Start;
        event.output = text("output");
    } else if (kind == protocol::kProgress) {
        event.kind = ProgressEvent::Kind::Progress;
        const auto percent = object.find("percent");
        if (percent != object.end() && percent->is_number()) event.percent = percent->get<double>();
        event.phase = text("phase");
    } else if (kind == protocol::kEnd) {
        event.kind = ProgressEvent::Kind::End;
        event.result = text("result");
        event.output = text("output");
        event.message = text("message");
        event.cause = text("cause");
        const auto size = object.find("size");
        if (size != object.end() && size->is_number_unsigned()) {
            event.size = size->get<uint64_t>();
        } else if (size != object.end() && size->is_number_integer() && size->get<int64_t>() >= 0) {
            event.size = static_cast<uint64_t>(size->get<int64_t>());
        }
    } else {
        return std::nullopt;
    }
    return event;
}

}  // namespace spatialmux
