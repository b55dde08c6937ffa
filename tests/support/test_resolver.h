// The test programs' resolver: the platform's getaddrinfo, except for names under the reserved
// .invalid domain, which never leave the process. "stall.zundrel.invalid" blocks until the test
// releases it (a lookup that hangs); every other .invalid name does not resolve, at once.
#pragma once

#include <chrono>

constexpr const char* kStalledHostName = "stall.zundrel.invalid";

// Waits until `n` lookups of the stalled name are blocked. Returns whether they are.
bool WaitStalledLookups(int n, std::chrono::milliseconds timeout);

// Lets every blocked and later lookup of the stalled name end (as "not found"), and waits up to
// `timeout` until the blocked ones have returned. Returns whether they have.
bool ReleaseStalledLookups(std::chrono::milliseconds timeout);

// The number of lookups of .invalid names asked for so far.
int InvalidLookupCount();

// Makes later lookups of the stalled name block again.
void ArmStalledLookups();
