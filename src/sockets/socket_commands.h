// The socket commands of the link (class 0x11).
#pragma once

#include <cstddef>
#include <cstdint>

// Answers the complete class-0x11 frame `frame` of length `n` (its length byte + 3, and at least 4)
// and sends its reply. An unknown command code is reported as unknown and gets no
// reply.
void HandleSocketCommand(const uint8_t* frame, size_t n);
