#pragma once

#include "sweep/scripted_service.h"

#include <functional>
#include <string_view>
#include <vector>

namespace vyr::cld::sweep {

// How a call came back, judged by the entry itself against its valid answer and its failure
// value (and, where it has them, against what its out-parameters must then hold).
enum class Outcome { Success, FailureValue, Void, Wrong };

template <class T> Outcome classify(const T& actual, const T& success, const T& failure = T{})
{
    if (actual == success) {
        return Outcome::Success;
    }
    return actual == failure ? Outcome::FailureValue : Outcome::Wrong;
}

// A defective answer of the service and how the entry point must come back from it.
struct BadAnswer {
    std::string_view what;
    Script script;
    Outcome expected = Outcome::FailureValue;
};

// One exported entry point: how to call it with valid arguments, and what the service answers.
struct EntryPoint {
    std::string_view name;      // as the shared library exports it
    std::string_view operation; // the service operation it must call
    bool responsecode = false;  // whether it takes one
    Script valid;               // a valid answer (the sweep sets the effect)
    std::function<Outcome(int& responsecode)> call;
    std::vector<BadAnswer> bad_answers = {};
};

// The entries of each family; `all_entry_points` joins them.
std::vector<EntryPoint> file_entry_points();
const std::vector<EntryPoint>& all_entry_points();

} // namespace vyr::cld::sweep
