// The parts of a model's check that its reader applies line by line.
#pragma once

#include <cstddef>
#include <string>

#include "programma/model.h"

namespace programma {

// Whether a label's text is of its kind: a whole number, a finite real, or
// any text.
bool valid_label(LabelKind kind, const std::string& text);

// A valid label as its value: two labels are the same when their keys are
// ("08" is "8", "1.0" is "1", "-0" is "0"; a text is itself).
std::string label_key(LabelKind kind, const std::string& text);

// List i: every entry a support row, implying no more epochs than the
// model's (the support rows already checked).
Status check_list_at(const Model& model, std::size_t i);

}  // namespace programma
