// What the control dialog does, for every front end: its start, a port picked, a speed clicked, the
// port tried again and its end, over the table of the ports the port list offers. A front end draws
// the dialog (front/front_end.h) and forwards its controls here; everything here runs on the
// window's thread.
#pragma once

#include <cstddef>

#include "line/line.h"
#include "serial/port_names.h"

// --- Forwarded by the front end ------------------------------------------------------------------

// Largest number of ports the port table holds, COM1: to COM4: included.
constexpr int kMaxPorts = 32;

// Makes the start open the port shown as `label` on the device `device` (each cut to fit)
// at `speed` bit/s (9600 or 38400), in place of COM1: at 9600. The port takes the row of its device
// in the port list, or else a row of its own (a COM port in the order of the numbers). An empty
// label keeps COM1:, a speed of 0 keeps 9600. Called before ControlStart.
void ControlPreselect(const char* label, const char* device, unsigned speed);

// The dialog's start: the socket library, the speed checked, the port list (COM1: to COM4:, then
// the other serial ports the PC has, and the port preselected) with that port selected and opened
// at that speed, and its state on the tooltip.
void ControlStart();

// The port list is about to be shown: brings it up to date with the serial ports the PC has now.
// Ports that came appear, ports that went go, except the one picked, which stays (its state then
// says it is lost) and stays selected. Reports no pick; changes the list only when it differs.
void ControlRefreshPorts();

// The port's state changed by itself (FrontPortStateChanged, relayed to the window's thread): shows
// each change on the tooltip, and on stderr as one line when it differs from the last shown.
void ControlPortStateChanged();

// A device arrived (the Windows program's window got the notification of a COM port): a lost COM
// port is tried again at once.
void ControlDeviceArrived();

// The user picked item `index` of the port list: closes the port, takes down a box left from its
// reader and opens the port picked (when it cannot be opened, only the tooltip and stderr say why).
// An index outside the list does nothing.
void ControlPickPort(int index);

// Called once a second: a port picked that did not open (not there, in use, ...) is tried again,
// until it opens or another is picked; its state is shown when it changed. A lost port is left to
// the port's own wait for its return.
void ControlEverySecond();

// Returns 1 while the port picked did not open and ControlEverySecond tries it again, 0 otherwise
// (a program that draws nothing needs no timer then).
int ControlPortWaitedFor();

// Most bytes of the port's state line that FrontSetPortTip shows, its NUL included: the port's
// label, then its state's words with the device's name and what its line told.
constexpr size_t kStateLineBytes = 2 * kPortNameBytes + kLineDetailBytes;

// How often a front end calls ControlEverySecond: as often as a line is tried again.
constexpr unsigned kControlTickMs = kRetryMs;

// The user clicked the button of `speed`, the one already checked included: sets that speed.
void ControlSetSpeed(unsigned speed);

// The dialog's end: raises the stop signal first, so that a socket call broken by the release of
// the sockets cannot answer, then releases the sockets, closes the port and takes down a box left
// up. Returns 1, or 0 when the dialog had already ended (nothing is done again).
int ControlEnd();
