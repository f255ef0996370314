// The front end: command-line settings, the usage text and the two drivers
// that run a method from start to end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "file_lib.h"
#include "list_lib.h"
#include "perceptron_lib.h"

// Settings, written while the command line is parsed.
extern uint8_t adaboost;
extern float gaussian_c;
extern float polinomial_degree;
extern uint32_t digit;
extern uint32_t epocs;
extern int32_t kernel_algoritm;
extern uint8_t load_list;
extern const char* list;
extern const char* training_set;
extern const char* test_set;
extern uint8_t voted;

// Whether the drivers compute with the fast engine (programma) or with the
// plain reference modules alone (programma_reference).
extern bool fast_engine;

extern const char* const arguments[10];
extern uint8_t is_error;

// State the drivers fill and hand down.
extern KernelSpec ker;
extern Dims dim_tr;
extern Dims dim_ts;
extern SampleMatrix tr_set;
extern SampleMatrix ts_set;
extern std::unique_ptr<IndexList> head;
extern float training_error;
extern float test_error;
extern char control;
extern std::string list_save_path;

// Puts every setting and every piece of driver state back to its default.
void reset_settings();

// Applies one option/value pair; 0 when accepted, 1 when refused.
int set_variable(const char* name, const char* value);

void help(const char* program_name);

// Applies every option/value pair. Returns 0 when the run may go ahead, 1
// when the command line was refused (the usage text has been printed).
int parse_command_line(int argc, char** argv);

// The whole program behind `main`: returns the exit status.
int programma_main(int argc, char** argv);

// Drivers: 0 when the run reached its end, 1 when it stopped on a failure.
int kernel();
int voted_perceptron();
