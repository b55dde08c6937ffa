#include "test_panel.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "adapter/adapter.h"
#include "link/assembler.h"
#include "link/seams.h"

namespace {
std::mutex g_mutex;
std::condition_variable g_changed;
std::vector<std::string> g_events;
std::string g_logPath;
std::atomic<bool> g_recorded{true};
}  // namespace

std::string HexBytes(const uint8_t* bytes, size_t n) {
    std::string out;
    char hex[4];
    for (size_t i = 0; i < n; ++i) {
        snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
        out += hex;
    }
    return out;
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    return HexBytes(bytes.data(), bytes.size());
}

void RecordTestEvent(const std::string& event) {
    if (!g_recorded) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.push_back(event);
    g_changed.notify_all();
}

void SetTestEventsRecorded(bool recorded) {
    g_recorded = recorded;
}

std::vector<std::string> TestEvents() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_events;
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 3) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::vector<std::vector<uint8_t>> SentFrames() {
    std::vector<std::vector<uint8_t>> frames;
    for (const std::string& e : TestEvents()) {
        if (e.rfind("send:", 0) == 0) {
            frames.push_back(FromHex(e.substr(5)));
        }
    }
    return frames;
}

void ResetTestPanel() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.clear();
    g_recorded = true;
    g_logPath.clear();
    ResetReceiveBuffer();
    g_adapter = AdapterState{};
}

void SetTestLogPath(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_logPath = path;
}

bool WaitForTestEvents(const std::function<bool(const std::vector<std::string>&)>& ready,
                       std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(g_mutex);
    return g_changed.wait_for(lock, timeout, [&] { return ready(g_events); });
}

void PanelSetStatus(const char* label) {
    if (!g_recorded) {
        return;  // not even the text is built: a long run allocates nothing per frame here
    }
    RecordTestEvent(std::string("status:") + label);
}

size_t PanelGetLogPath(char* buf, size_t size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    size_t n = g_logPath.size() < size - 1 ? g_logPath.size() : size - 1;
    memcpy(buf, g_logPath.data(), n);
    buf[n] = '\0';
    return n;
}

void PanelShowError(const char* text) {
    RecordTestEvent(std::string("box:") + text);
}
