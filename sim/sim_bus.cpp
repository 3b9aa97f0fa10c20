// Simulated bus: see sim_bus.h.
