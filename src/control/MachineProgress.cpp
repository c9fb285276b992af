#include "control/MachineProgress.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string_view>

#include "control/job/FailureCause.h"
#include "control/job/ProgressProtocol.h"
#include "platform/Backend.h"
#include "platform/ChildProcess.h"
#include "platform/LocalizedStrings.h"

namespace spatialmux {

namespace protocol = progress_protocol;
using Json = nlohmann::ordered_json;

// The back end in use, with every alert remembered on its way through and
// shown as MachineProgress::ForPeople makes it.
class MachineProgress::AlertKeeper : public platform::Backend {
public:
    AlertKeeper() : inner(&platform::CurrentBackend()) { platform::InstallBackend(this); }
    ~AlertKeeper() override { platform::InstallBackend(inner); }
    AlertKeeper(const AlertKeeper&) = delete;
    AlertKeeper& operator=(const AlertKeeper&) = delete;

    void ShowAlert(const std::string& text) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            last = text;
        }
        inner->ShowAlert(ForPeople(text));
    }
    void ShowNotice(const std::string& text) override { inner->ShowNotice(text); }
    void PostToMainThread(std::function<void()> work) override {
        inner->PostToMainThread(std::move(work));
    }
    void RunOnMainThreadAndWait(std::function<void()> work) override {
        inner->RunOnMainThreadAndWait(std::move(work));
    }
    void DetachThread(std::function<void()> work) override { inner->DetachThread(std::move(work)); }
    void RequestTermination() override { inner->RequestTermination(); }
    bool IsMainThread() const override { return inner->IsMainThread(); }

    std::string Last() const {
        std::lock_guard<std::mutex> lock(mutex);
        return last;
    }

private:
    platform::Backend* inner;
    mutable std::mutex mutex;
    std::string last;
};

namespace {

// Paths are bytes; the protocol is UTF-8: what is not UTF-8 becomes U+FFFD.
std::string Dump(const Json& object) {
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

double Tenths(float percent) {
    return std::round(static_cast<double>(percent) * 10.0) / 10.0;
}

}  // namespace

MachineProgress::MachineProgress(const std::string& input, const std::string& output, std::FILE* s)
    : stream(s), alerts(std::make_unique<AlertKeeper>()), phase(protocol::kPhaseCheck) {
    // A reader that has gone away must not kill the conversion halfway with
    // SIGPIPE; a front end killed outright stops its conversions as if it
    // had sent SIGTERM.
    std::signal(SIGPIPE, SIG_IGN);
    platform::EndWithParent(SIGTERM);
    Json start;
    start["event"] = protocol::kStart;
    start["protocol"] = protocol::kVersion;
    start["input"] = input;
    start["output"] = output;
    Write(Dump(start));
    Report(0.0f);
    progress = platform::NotificationCenter::Default().AddObserver(
        platform::kProgressUpdateNotification,
        [this](const platform::Notification& n) { Report(n.number); });
    phases = platform::NotificationCenter::Default().AddObserver(
        platform::kPhaseUpdateNotification, [this](const platform::Notification& n) {
            if (n.text == phase) return;
            phase = n.text;
            lastTenths = -1;
            Report(percent);
        });
}

MachineProgress::~MachineProgress() = default;

std::string MachineProgress::ForPeople(const std::string& text) {
    const std::string_view word = protocol::kLinePrefix;
    std::string shown;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find('\n', begin);
        std::string line = platform::ControlsEscaped(
            std::string_view(text).substr(begin, end == std::string::npos ? end : end - begin));
        if (line.compare(0, word.size(), word) == 0) line.insert(0, "> ");
        shown += line;
        if (end == std::string::npos) return shown;
        shown += '\n';
        begin = end + 1;
    }
}

std::string MachineProgress::LastAlert() const {
    return alerts->Last();
}

std::string MachineProgress::ProgressLine(float percent, const std::string& phase) {
    Json line;
    line["event"] = protocol::kProgress;
    line["percent"] = Tenths(percent);
    line["phase"] = phase;
    return Dump(line);
}

void MachineProgress::Report(float value) {
    if (!std::isfinite(value)) return;
    percent = std::min(100.0f, std::max(0.0f, value));
    const int tenths = static_cast<int>(std::lround(Tenths(percent) * 10.0));
    if (tenths == lastTenths) return;
    lastTenths = tenths;
    Write(ProgressLine(percent, phase));
}

void MachineProgress::End(const char* result, const std::string& output,
                          std::optional<uint64_t> size, const std::string& message) {
    progress.Reset();
    phases.Reset();
    Json end;
    end["event"] = protocol::kEnd;
    end["result"] = result;
    end["output"] = output;
    if (size) end["size"] = *size;
    if (!message.empty()) end["message"] = message;
    // Why, in English, as the job's "error!!" line said it.
    if (std::string(result) != protocol::kConverted) {
        if (const std::string cause = LastFailureCause(); !cause.empty()) end["cause"] = cause;
    }
    Write(Dump(end));
}

void MachineProgress::Write(const std::string& line) {
    // One write per line, so that a line never mixes with other output.
    const std::string whole = std::string(protocol::kLinePrefix) + " " + line + "\n";
    std::fflush(stream);
    std::fwrite(whole.data(), 1, whole.size(), stream);
    std::fflush(stream);
}

}  // namespace spatialmux
