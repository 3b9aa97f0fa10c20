// The register protocol over any report transport: each call exchanges
// reports with the converter, verifies what it wrote by reading it back,
// and retries a failed exchange on a freshly opened port before it reports
// the failure (in the transport's `failure` and as a message). Portable.
#pragma once

#include "protocol/report_transport.h"

#include <cstdint>

bool ReadRegister(ReportTransport &port, uint8_t address, uint8_t &value);
bool ReadRegisterWord(ReportTransport &port, uint8_t address, uint16_t &value);
bool WriteRegister(ReportTransport &port, uint8_t address, uint8_t value);
bool WriteRegisterWord(ReportTransport &port, uint8_t address, uint16_t value);
