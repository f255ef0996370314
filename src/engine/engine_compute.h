// The engine's Compute, which programma plugs into its front end: the same
// bytes as the plain one, computed by the batch kernels on the worker pool
// and read by the parallel loader, with the settings given. Where the engine
// cannot have the memory it needs beyond the reference's, it says so before
// printing anything and the plain Compute works instead.
#pragma once

#include "compute.h"
#include "engine_settings.h"

Compute engine_compute(const EngineSettings& settings);
