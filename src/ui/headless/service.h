// What the headless program tells systemd when it runs as a service of Type=notify (only where
// systemd asks, NOTIFY_SOCKET set; nothing otherwise): that it is ready, and a one-line status kept
// current, "COM1: open at 38400 bit/s, 2 sockets open" (service_posix.cpp).
#pragma once

// Tells that the program is ready: its loop runs.
void ServiceReady();

// The port's state line changed to `line`. Main thread.
void ServicePortState(const char* line);

// The device has `open` sockets open now. Reader thread.
void ServiceSockets(int open);

// Tells that the program is ending.
void ServiceStopping();
