#pragma once

#include "DeviceSettings.h"

#include <cstdint>

namespace vsim {

// The line's speed in bit/s as its tty reports it (on a pty master: what the client set on the
// slave), including speeds outside the classic table; 0 when it cannot be read.
uint32_t ReadLineSpeed(int fd);

// Raw 8-bit mode at any speed, with the given parity. False with errno set on failure.
bool ConfigureLine(int fd, uint32_t baud, TParity parity);

// Raw mode, speed left alone (for the simulator's own handle on a pty slave: no echo of the
// replies back into the master).
bool MakeRaw(int fd);

}  // namespace vsim
