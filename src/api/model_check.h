// The parts of a model's check that its reader applies line by line.
#pragma once

#include <cstddef>
#include <string>

#include "programma/model.h"

namespace programma {

// Whether a label's text is of its kind: a whole number, a finite real, or
// any text.
bool valid_label(LabelKind kind, const std::string& text);

// List i: every entry a support row, implying no more epochs than the
// model's (the support rows already checked).
Status check_list_at(const Model& model, std::size_t i);

}  // namespace programma
