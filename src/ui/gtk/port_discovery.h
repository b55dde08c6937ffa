// The USB serial ports a Linux machine has at start, which the port list offers after COM1: to
// COM4:.
#pragma once

#include <string>
#include <vector>

// Lists the device paths of the USB serial ports in folder `dir` (normally "/dev"): first every
// ttyUSB<n>, then every ttyACM<n>, each group in the order of n. Returns an empty list when there
// is none or the folder cannot be read.
std::vector<std::string> ListUsbSerialPorts(const char* dir);
