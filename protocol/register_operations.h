// The converter operations that the dialog and the console programs share,
// over any report transport: read the identity words, read all 256
// registers, write a chosen set of registers. Each step reports through its
// result, the transport's RegisterFailure and a callback per register done;
// the register protocol's own messages go to the transport's sink. Portable.
#pragma once

#include "config/config_image.h"
#include "protocol/report_transport.h"

#include <cstdint>
#include <functional>
#include <vector>

// The words read before any check: the firmware version (1), the firmware
// type (3) and the word at 255 (read, not examined). Returns 0, or 1 to 3
// for the read that failed or was cut off.
int ReadIdentityWords(ReportTransport &port, uint16_t &version, uint16_t &type);

// After each register transferred successfully, with its address.
using RegisterDone = std::function<void(uint8_t address)>;

// Reads registers 0 to 255 into `image` in order, each as it arrives (so
// after a failure at address a the image holds the device's values below a).
// False at the first register that fails or at a cut-off; `failedAddress`
// says which.
bool ReadAllRegisters(ReportTransport &port, RegisterImage &image, const RegisterDone &done, int &failedAddress);

// Writes the image's bytes at `addresses`, in the order given, each verified
// by the protocol's read-back. False at the first that fails or at a cut-off.
bool WriteImageRegisters(ReportTransport &port, const RegisterImage &image, const std::vector<uint8_t> &addresses,
                         const RegisterDone &done, int &failedAddress);

// first, first + 1, ... 255.
std::vector<uint8_t> AddressesFrom(int first);
