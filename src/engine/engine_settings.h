// How the fast engine may use the machine for one computation: the library's
// EngineOptions (programma/options.h), which every entry point of the engine
// takes from its call: how many threads it may run, how much memory the
// training kernel cache may take, the widest instruction set its fast paths
// may use, and whether it binds threads to processors. Nothing holds them
// between calls.
#pragma once

#include "programma/options.h"

using programma::vector_level_name;
using programma::VectorLevel;
using EngineSettings = programma::EngineOptions;

// What an engine entry point returns when the memory it needs beyond the
// reference's cannot be had; it has printed nothing, and the caller computes
// with the reference modules instead.
constexpr int kEngineOutOfMemory = 2;
