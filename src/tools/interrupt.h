// How an interrupted run ends: SIGINT, SIGTERM and SIGHUP set the cancel
// flag that the library's long calls read and end the children the run
// started; the run then unwinds as from any failure (its staged files and a
// folder it made are removed), and the signal is raised again with its
// default action, so that a shell sees the run end by it.
#pragma once

#include <sys/types.h>
#include <stdexcept>

#include "programma/cancel.h"

// Thrown where a run stops because a signal came.
struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

// Catches the three signals; one ignored when the program started (as a
// background job's SIGINT is) stays ignored.
void catch_interrupts();

// The flag handed to every long call of the library; set by a signal.
const programma::CancelFlag* cancel_flag();

// Whether a signal has come.
bool interrupted();

// Throws Interrupted once a signal has come.
void stop_if_interrupted();

// Once a signal has come: its default action restored and the signal raised
// again, which ends the process. Returns when none came.
void raise_caught_signal();

// A child process a signal must end, while it runs.
void watch_child(pid_t pid);
void forget_child(pid_t pid);
