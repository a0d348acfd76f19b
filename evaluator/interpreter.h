// The interpreter: evaluates blocks of values one expression at a time,
// calls natives, actions, operators, functions and routines with their
// arguments and refinements, and evaluates paths.
//
// Blocks are passed as pointers to a block! (or paren!) cell that the
// collector sees and that stays in place for the call: a cell on the
// evaluation stack, in the root block, or held by a collector::Root. The
// interpreter reads the block's buffer through that cell again after
// anything that may collect. Positions are indexes into the block's buffer
// (absolute, like a series cell's head index); an end beyond the tail is
// read as the tail.
//
// Non-local exits: when a break, continue, return, exit or throw is raised
// under an interpreter call, the call returns with stack::pending set (see
// core/stack.h); callers that evaluate further must return at once
// while it is set. Errors travel as stack::Unwind. The C++ helpers at the
// end turn a pending exit into the exception for callers that cannot return.
//
// Everything here may collect.
#pragma once

#include <cstdint>

#include "core/cell.h"
#include "core/evaluator-hooks.h"

namespace mox::interpreter {

// The call flags and the position are in core/evaluator-hooks.h.

// Allocates the cell of no position. Called once, after the boot block
// exists.
void init();

// The tail index of a block value (its buffer's length in cells).
int32_t tail_of(const Cell* block);

// Evaluates every expression of the block or paren from its index to its
// tail; the value of the last one (unset! for an empty block) becomes, with
// keep_in_caller, the running call's result (stack::arguments[0], top just
// after it), else one new cell pushed at the top.
void eval_block(const Cell* block, bool keep_in_caller);

// Evaluates a loop's block (a block!) from its index under the loop's
// frame, which is on top and whose base cell is base: without a frame of
// its own when untraced (the loop's frame stands for it in reports), else
// as eval_block with keep_in_caller. The value lands in base, top just
// after it; an exit stays pending.
void eval_loop_block(const Cell* block, Cell* base);

// Runs a loop: step(data), which may set the loop's words and may run
// Mox code, then the loop's block (a cell below the loop's frame, a block!
// or paren!) as eval_loop_block would, again and again until step gives
// false or the block raises an exit. The loop's frame is on top and its
// base cell is base, which receives each run's value (top just after it).
// Returns 0 when step ended the loop, else the pending exit (still
// pending; the caller takes break and continue, and after a continue calls
// again to go on).
using LoopStep = bool (*)(void* data);
uint32_t run_loop(const Cell* block, Cell* base, LoopStep step, void* data);

// Evaluates the block from its index as the body of the running function
// call (a routine or native body continuing its function's Mox body): a
// return or exit aimed at the call ends it, and the value becomes the
// call's result, as when the interpreter runs a body. Another exit stays
// pending.
void eval_body(const Cell* block);

// Evaluates one expression from position; returns the position after it.
// push: the value is pushed as a new cell, else it becomes the running
// call's result (stack::set_last_keep). no_infix: one operand only, no
// following operator. no_call: a function value written in the block is a
// value, not a call.
int32_t eval_expression(const Cell* block, int32_t position, int32_t end, bool no_infix, bool push,
                        bool no_call);

// do/next: evaluates one expression from the block's index into the
// running call's result slot; returns the index after it (the same index,
// with an unset! result, at the tail).
int32_t eval_next(const Cell* block);

// One expression (infix allowed) inside its own internal frame; the value
// is pushed (push) or made the running call's result. Returns the position
// after it.
int32_t eval_single(const Cell* block, int32_t position, int32_t end, bool push);

// Calls callee (native!, action!, op!, function!, routine!), fetching its
// arguments from the block at position, up to end; returns the position
// after the last value consumed. name: the word or path that named the
// call (null: the frame is named <anon>); a path, which must be a cell the
// collector sees that stays in place for the call, supplies the refinements
// from its element path_index on (counted from the path's index). object: the object the path went
// through (its context binds self), or null. Unless infix, the result
// replaces nothing: it is pushed as one new cell. In an infix call the left
// operand is the cell at the top, which the result replaces.
int32_t eval_call(const Cell* callee, const Cell* block, int32_t position, int32_t end,
                  uint32_t call_flags, bool infix, const Cell* name, int32_t path_index,
                  const Cell* object);

// Evaluates the path at position (path!, get-path!, set-path!). set: a
// set-path whose new value is the running call's last cell. get: function
// values are produced, not called. push: the value is pushed, else it
// becomes the running call's result. Returns the position after the path
// and the arguments a call through it consumed.
int32_t eval_path(const Cell* path, const Cell* block, int32_t position, int32_t end, bool set,
                  bool get, bool push);

// ---------------------------------------------------------------------------
// C++ helpers (for natives, actions, comparators, hooks)
// ---------------------------------------------------------------------------

// Evaluates the block and copies its value to out (a cell the collector
// sees). A pending exit is raised as the exception.
void do_block(const Cell* block, Cell* out);

// Calls a callable value (native!, action!, op!, function!, routine!)
// with count argument cells and no refinements, and copies its result to
// out. The arguments are checked against the spec; too few raise no-arg.
// With flags (CALL_ALL | CALL_SAFER), the cells fill every argument and
// refinement in spec order instead, missing ones taking false and none.
// A pending exit is raised as the exception. With back, the arguments'
// last values in the callee (a function may set its own arguments) are
// copied there, count cells.
void call_value(const Cell* callable, const Cell* args, int32_t count, Cell* out,
                uint32_t flags = 0, Cell* back = nullptr);

// Registers the native body of the library function collect, whose keep
// function runs C++ code (evaluator/interpreter-collect.cpp). Called
// before the boot source loads.
void register_collect_body();

} // namespace mox::interpreter
