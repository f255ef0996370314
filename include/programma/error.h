// Why a library call failed, as a record a caller can act on: the kind of
// failure, what is wrong, and the file and line at fault where there is one.
// Its message is "path:line: detail", "path: detail" or "detail".
//
// Which kind each failure has:
//   invalid_argument  a value or a combination of arguments the call refuses:
//                     check()'s rules (the field names the recogniser's
//                     member); a parsed value (parse_kernel and the others;
//                     the field names the value); no thread in the options;
//                     a training set of no row; samples of another width
//                     than the training set's; a list count that differs
//                     from the recognisers'; recognisers scored together
//                     with different kernels; a mistake list given in memory
//                     whose entry names no training row ("mistake list:
//                     entry ..."), or that implies more epochs than the
//                     recogniser's; a score cell of more epochs than the
//                     training's; a sample set of no row or feature, or of
//                     too many, or without its values; a save to an empty
//                     file name; a file name holding a null byte; feature
//                     ranges that fail their check (the field names the
//                     member), ranges of a set of no row, ranges naming
//                     more features than the samples have; fewer than 2
//                     folds, a fold that would hold no row, an order that is
//                     not a permutation of the rows (programma/preparation.h);
//                     a model that fails its check, or samples of another
//                     width than a model's (programma/model.h).
//   bad_data          a file whose content cannot be used: a sample line
//                     that is not a number or has another count (path and
//                     line), a file of no sample line or too many, a file
//                     that changed while it was read, a list line that is
//                     not one row index (path and line), a restored list
//                     whose entry names no training row (path), a range-file
//                     line that cannot be used (path and line), an infinite
//                     value in a set whose ranges are learned (its row), a
//                     model file line that cannot be used (path and line;
//                     programma/model.h).
//   input_output      the system refused a file: it cannot be opened, read
//                     or saved (path, and the errno in error_number).
//   out_of_memory     the memory a call needs cannot be had (or a size
//                     beyond any memory), or a thread cannot be started.
//   cancelled         the call's CancelFlag was set.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace programma {

enum class ErrorKind { invalid_argument, bad_data, input_output, out_of_memory, cancelled };

struct Error {
    ErrorKind kind = ErrorKind::invalid_argument;
    std::string detail;    // what is wrong, without the file and line
    std::string path;      // the file at fault, or empty
    uint64_t line = 0;     // its line, from 1; 0 when the fault is not on one line
    int error_number = 0;  // input_output: the errno the system gave, when it gave one
    std::string field;     // invalid_argument: the argument or field at fault, when one is

    std::string message() const {
        if (path.empty()) return detail;
        return line == 0 ? path + ": " + detail : path + ":" + std::to_string(line) + ": " + detail;
    }
};

// A value, or the error that stopped the call.
template <typename T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

struct Done {};
using Status = Result<Done>;

// An error thrown, for callers that would rather throw than test each
// result (the library itself never throws one): what() is its message.
class Failure : public std::runtime_error {
public:
    explicit Failure(Error error) : std::runtime_error(error.message()), error_(std::move(error)) {}
    const Error& error() const { return error_; }

private:
    Error error_;
};

// A result's value, or its error thrown as a Failure.
template <typename T>
T value_or_throw(Result<T>&& result) {
    if (!result) throw Failure(result.error());
    return std::move(result).value();
}

}  // namespace programma
