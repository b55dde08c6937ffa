// The test programs' panel: it records what the core did through the panel functions, and the test
// port records bytes written and pauses asked for, all in one ordered list of events:
//   "status:LABEL", "box:TEXT", "send:XX XX ...", "pause:MS".
// Safe to use while a reader thread runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Appends one event.
void RecordTestEvent(const std::string& event);

// Turns the recording of events on or off (on after ResetTestPanel). Long runs turn it off, so the
// list does not grow with every frame.
void SetTestEventsRecorded(bool recorded);

// A copy of the events so far.
std::vector<std::string> TestEvents();

// Only the bytes of the "send:" events, one vector per frame sent.
std::vector<std::vector<uint8_t>> SentFrames();

// Forgets the events and records them again, empties the log path, and puts the receive buffer and
// adapter back to start.
void ResetTestPanel();

// Sets the text the log field reports.
void SetTestLogPath(const std::string& path);

// Waits until `ready(events)` holds or `timeout` passes. Returns whether it held.
bool WaitForTestEvents(const std::function<bool(const std::vector<std::string>&)>& ready,
                       std::chrono::milliseconds timeout);

// Formats bytes as the events do: "01 00 01 02".
std::string HexBytes(const uint8_t* bytes, size_t n);
std::string HexBytes(const std::vector<uint8_t>& bytes);

// The bytes written as "01 00 01 02".
std::vector<uint8_t> FromHex(const std::string& hex);
