// The evaluation natives: evaluating values and building values from code,
// reaching words and contexts, transferring control, printing.
#pragma once

namespace mox::natives {

// Fills the natives table's slots of do, get, set, print, prin, reduce,
// compose, bind, in, construct, value?, try, break, continue, exit, return,
// throw, catch, unset, context?, transcode, apply.
void register_eval();

// Whether the last output of print (true) or prin (false) ended its line;
// the console reads it.
extern bool last_new_line;

} // namespace mox::natives
