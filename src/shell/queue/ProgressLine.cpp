#include "shell/queue/ProgressLine.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "control/ProgressProtocol.h"

namespace spatialmux {

namespace protocol = progress_protocol;

std::optional<ProgressEvent> ParseProgressLine(const std::string& line) {
    const std::string prefix = std::string(protocol::kLinePrefix) + " ";
    if (line.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(line.substr(prefix.size())));
    if (!document.isObject()) return std::nullopt;
    const QJsonObject object = document.object();
    const auto text = [&object](const char* key) {
        return object.value(QLatin1String(key)).toString().toStdString();
    };
    ProgressEvent event;
    const std::string kind = text("event");
    if (kind == protocol::kStart) {
        event.kind = ProgressEvent::Kind::Start;
        event.output = text("output");
    } else if (kind == protocol::kProgress) {
        event.kind = ProgressEvent::Kind::Progress;
        event.percent = object.value(QLatin1String("percent")).toDouble();
        event.phase = text("phase");
    } else if (kind == protocol::kEnd) {
        event.kind = ProgressEvent::Kind::End;
        event.result = text("result");
        event.output = text("output");
        event.message = text("message");
        const QJsonValue size = object.value(QLatin1String("size"));
        if (const qint64 bytes = size.toInteger(-1); bytes >= 0) {
            event.size = static_cast<uint64_t>(bytes);
        }
    } else {
        return std::nullopt;
    }
    return event;
}

}  // namespace spatialmux
