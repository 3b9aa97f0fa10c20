// The converter's USB identity as the C++ code names it: what discovery
// matches, what the simulated converter presents, what zyrctl names when
// none is found. The facts are in base/converter_wire.h. Portable.
#pragma once

#include "base/converter_wire.h"

#include <cstdint>

constexpr uint16_t converterVendorId = ZYR_VENDOR_ID;
constexpr uint16_t converterProductId = ZYR_PRODUCT_ID;
constexpr uint16_t converterReleaseNumber = ZYR_RELEASE_NUMBER;
constexpr const char *converterManufacturer = ZYR_MANUFACTURER;
constexpr const char *converterProduct = ZYR_PRODUCT;
constexpr uint16_t converterUsagePage = ZYR_USAGE_PAGE;
constexpr uint16_t converterUsage = ZYR_USAGE;
// Bytes of a report after its report-ID byte, both ways.
constexpr uint8_t converterReportPayload = ZYR_REPORT_PAYLOAD;
constexpr uint8_t commandWriteRegister = ZYR_COMMAND_WRITE_REGISTER;
constexpr uint8_t commandReadRegister = ZYR_COMMAND_READ_REGISTER;
