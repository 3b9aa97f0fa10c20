// The converter's USB identity: what discovery matches, what the simulated
// converter presents, what zyrctl names when none is found. Portable.
#pragma once

#include <cstdint>

constexpr uint16_t converterVendorId = 0x16C0;
constexpr uint16_t converterProductId = 0x03E8;
constexpr uint16_t converterReleaseNumber = 0x0100;
constexpr const char *converterManufacturer = "Brantix";
constexpr const char *converterProduct = "ZYR-USB";
// Bytes of a report after its report-ID byte, both ways.
constexpr uint8_t converterReportPayload = 8;
