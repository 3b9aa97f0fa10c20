// The converter operations that the dialog and the console program share:
// find the converter and open a port on it, read its identity words, read
// all 256 registers, write a chosen set of registers. Nothing here touches
// a window: each step reports through its result, the port's
// RegisterFailure and a callback per register done; the register
// protocol's own messages go to the operation message sink.
#pragma once

#include "config/config_image.h"
#include "protocol/device_port.h"

#include <cstdint>
#include <functional>
#include <vector>

// The protocol's 5 ms pauses are only 5 ms when the system timer ticks
// every millisecond; its default tick is about 15.6 ms. Held for the
// length of one operation.
class FineTimerResolution {
public:
    FineTimerResolution();
    ~FineTimerResolution();
    FineTimerResolution(const FineTimerResolution &) = delete;
    FineTimerResolution &operator=(const FineTimerResolution &) = delete;

private:
    bool active;
};

enum class ConverterOpen { opened, notFound, openFailed };

// The converter's identity (converter_identity.h) as the device's match.
void MatchConverter();

// MatchConverter, then finds it, opens the port and
// pauses 5 ms. On failure the port stays closed.
ConverterOpen OpenConverter(DevicePort &port);

// The words read before any check: the firmware version (1), the firmware
// type (3) and the word at 255 (read, not examined). Returns 0, or 1 to 3
// for the read that failed or was cut off.
int ReadIdentityWords(DevicePort &port, uint16_t &version, uint16_t &type);

// After each register transferred successfully, with its address.
using RegisterDone = std::function<void(uint8_t address)>;

// Reads registers 0 to 255 into `image` in order, each as it arrives (so
// after a failure at address a the image holds the device's values below a).
// False at the first register that fails or at a cut-off; `failedAddress`
// says which.
bool ReadAllRegisters(DevicePort &port, RegisterImage &image, const RegisterDone &done, int &failedAddress);

// Writes the image's bytes at `addresses`, in the order given, each verified
// by the protocol's read-back. False at the first that fails or at a cut-off.
bool WriteImageRegisters(DevicePort &port, const RegisterImage &image, const std::vector<uint8_t> &addresses,
                         const RegisterDone &done, int &failedAddress);

// first, first + 1, ... 255.
std::vector<uint8_t> AddressesFrom(int first);
