// The socket commands of the link (class 0x11).
#pragma once

// Handles the complete class-0x11 frame in the receive buffer and sends its reply. An unknown
// command code is reported as unknown and gets no reply.
void HandleSocketCommand();
