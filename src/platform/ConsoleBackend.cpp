#include "platform/ConsoleBackend.h"

#include <atomic>
#include <cstdio>
#include <thread>

namespace spatialmux::platform {

namespace {
std::atomic<Backend*> installedBackend{nullptr};
}

ConsoleBackend::ConsoleBackend() : mainThread(std::this_thread::get_id()) {}

void ConsoleBackend::ShowAlert(const std::string& text) {
    std::lock_guard<std::recursive_mutex> lock(mainThreadWork);
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

void ConsoleBackend::PostToMainThread(std::function<void()> work) {
    std::lock_guard<std::recursive_mutex> lock(mainThreadWork);
    work();
}

void ConsoleBackend::RunOnMainThreadAndWait(std::function<void()> work) {
    std::lock_guard<std::recursive_mutex> lock(mainThreadWork);
    work();
}

void ConsoleBackend::DetachThread(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}

void ConsoleBackend::RequestTermination() {
    terminationRequested = true;
}

bool ConsoleBackend::IsMainThread() const {
    return std::this_thread::get_id() == mainThread;
}

ConsoleBackend& DefaultConsoleBackend() {
    static ConsoleBackend backend;
    return backend;
}

Backend& CurrentBackend() {
    Backend* backend = installedBackend.load();
    return backend != nullptr ? *backend : DefaultConsoleBackend();
}

void InstallBackend(Backend* backend) {
    installedBackend = backend;
}

}  // namespace spatialmux::platform
