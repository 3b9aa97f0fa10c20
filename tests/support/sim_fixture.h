// A doctest fixture over the simulated bus: an empty bus in virtual time at
// the start of each test case, and at its end a check that the code under
// test left no device handle, no SetupAPI list, no preparsed data and no
// read in flight behind.
//
//     TEST_CASE_FIXTURE(SimFixture, "reads the converter") {
//         sim::SimDevice &converter = bus.AddConverter();
//         ...
//     }
#pragma once

#include "base/no_copy.h"
#include "sim/sim_bus.h"

#include <doctest.h>

struct SimFixture : private NoCopy {
    SimFixture() : bus(sim::SimBus::Instance()) { bus.Reset(); }
    ~SimFixture()
    {
        CHECK_MESSAGE(bus.OpenHandles() == 0, "device handles left open");
        CHECK_MESSAGE(bus.OpenDeviceInfoLists() == 0, "SetupAPI lists left open");
        CHECK_MESSAGE(bus.OutstandingPreparsedData() == 0, "preparsed data not freed");
        CHECK_MESSAGE(bus.PendingReads() == 0, "reads still in flight");
    }

    sim::SimBus &bus;
};
