// The natives and the actions, one line each: the id, the name the boot
// library (library/boot/*.mox) defines it under, and the C++ body. A
// native! or action! value carries only the id, so this is where a body is
// paired with its definition. The home file of each group expands its own
// list to fill the dispatch tables (the bodies are private to it), and
// tools/make-boot-image expands them all to check every definition in the
// boot files against them: a wrong pairing fails the build, not a call.
//
// Native ids are the slots of natives::table. Action ids are the Action
// codes of core/datatype.h, which the datatypes dispatch on as well.
//
// Each X(id, name, body) is expanded where the body can be named; the body
// takes the natives' calling convention (see core/natives.h).
#pragma once

// The table keeps its columns.
// clang-format off

// evaluator/natives-control.cpp
#define MOX_NATIVES_CONTROL(X) \
    X(1,  "if",          if_star) \
    X(2,  "unless",      unless_star) \
    X(3,  "either",      either_star) \
    X(4,  "any",         any_star) \
    X(5,  "all",         all_star) \
    X(6,  "while",       while_star) \
    X(7,  "until",       until_star) \
    X(8,  "loop",        loop_star) \
    X(9,  "repeat",      repeat_star) \
    X(10, "forever",     forever_star) \
    X(11, "foreach",     foreach_star) \
    X(12, "forall",      forall_star) \
    X(13, "remove-each", remove_each_star) \
    X(18, "switch",      switch_star) \
    X(19, "case",        case_star)

// evaluator/natives-eval.cpp
#define MOX_NATIVES_EVAL(X) \
    X(20,  "do",        do_star) \
    X(21,  "get",       get_star) \
    X(22,  "set",       set_star) \
    X(23,  "print",     print_star) \
    X(24,  "prin",      prin_star) \
    X(35,  "reduce",    reduce_star) \
    X(36,  "compose",   compose_star) \
    X(38,  "bind",      bind_star) \
    X(39,  "in",        in_star) \
    X(68,  "construct", construct_star) \
    X(69,  "value?",    value_q_star) \
    X(70,  "try",       try_star) \
    X(77,  "break",     break_star) \
    X(78,  "continue",  continue_star) \
    X(79,  "exit",      exit_star) \
    X(80,  "return",    return_star) \
    X(81,  "throw",     throw_star) \
    X(82,  "catch",     catch_star) \
    X(88,  "unset",     unset_star) \
    X(92,  "context?",  context_q_star) \
    X(106, "transcode", transcode_star) \
    X(107, "apply",     apply_star)

// evaluator/natives-compare.cpp
#define MOX_NATIVES_COMPARE(X) \
    X(25, "equal?",            compare_star<COMP_EQUAL>) \
    X(26, "not-equal?",        compare_star<COMP_NOT_EQUAL>) \
    X(27, "strict-equal?",     compare_star<COMP_STRICT_EQUAL>) \
    X(28, "lesser?",           compare_star<COMP_LESSER>) \
    X(29, "greater?",          compare_star<COMP_GREATER>) \
    X(30, "lesser-or-equal?",  compare_star<COMP_LESSER_EQUAL>) \
    X(31, "greater-or-equal?", compare_star<COMP_GREATER_EQUAL>) \
    X(32, "same?",             same_q_star) \
    X(33, "not",               not_star) \
    X(34, "type?",             type_q_star)

// evaluator/natives-series.cpp
#define MOX_NATIVES_SERIES(X) \
    X(41, "union",       set_op_star<series::SET_UNION>) \
    X(42, "intersect",   set_op_star<series::SET_INTERSECT>) \
    X(43, "unique",      set_op_star<series::SET_UNIQUE>) \
    X(44, "difference",  set_op_star<series::SET_DIFFERENCE>) \
    X(45, "exclude",     set_op_star<series::SET_EXCLUDE>) \
    X(46, "complement?", complement_q_star) \
    X(47, "dehex",       dehex_star) \
    X(48, "enhex",       enhex_star) \
    X(71, "uppercase",   change_case_star<true>) \
    X(72, "lowercase",   change_case_star<false>) \
    X(83, "extend",      extend_star) \
    X(84, "debase",      debase_star) \
    X(89, "new-line",    new_line_star) \
    X(90, "new-line?",   new_line_q_star) \
    X(91, "enbase",      enbase_star)

// evaluator/natives-math.cpp
#define MOX_NATIVES_MATH(X) \
    X(49,  "negative?",   negative_q_star) \
    X(50,  "positive?",   positive_q_star) \
    X(51,  "max",         max_star) \
    X(52,  "min",         min_star) \
    X(53,  "shift",       shift_star) \
    X(54,  "to-hex",      to_hex_star) \
    X(55,  "sine",        sine_star) \
    X(56,  "cosine",      cosine_star) \
    X(57,  "tangent",     tangent_star) \
    X(58,  "arcsine",     arc_star<&asin_of>) \
    X(59,  "arccosine",   arc_star<&acos_of>) \
    X(60,  "arctangent",  arc_star<&atan_of>) \
    X(61,  "arctangent2", arctangent2_star) \
    X(62,  "NaN?",        nan_q_star) \
    X(63,  "log-2",       float_fn_star<&log2_of>) \
    X(64,  "log-10",      float_fn_star<&log10_of>) \
    X(65,  "log-e",       float_fn_star<&ln_of>) \
    X(66,  "exp",         float_fn_star<&exp_of>) \
    X(67,  "square-root", float_fn_star<&sqrt_of>) \
    X(73,  "as-pair",     as_pair_star) \
    X(74,  "as-point2D",  as_point2d_star) \
    X(75,  "as-point3D",  as_point3d_star) \
    X(76,  "as-money",    as_money_star) \
    X(97,  "sign?",       sign_q_star) \
    X(100, "zero?",       zero_q_star)

// evaluator/natives-system.cpp
#define MOX_NATIVES_SYSTEM(X) \
    X(14,  "func",     func_star) \
    X(15,  "function", function_star) \
    X(16,  "does",     does_star) \
    X(17,  "has",      has_star) \
    X(37,  "stats",    stats_star) \
    X(86,  "wait",     wait_star) \
    X(96,  "now",      now_star) \
    X(98,  "as",       as_star) \
    X(105, "recycle",  recycle_star)

// evaluator/parse.cpp
#define MOX_NATIVES_PARSE(X) \
    X(40, "parse", parse_star)

// io/os-natives.cpp
#define MOX_NATIVES_OS(X) \
    X(85,  "to-local-file", to_local_file_star) \
    X(87,  "checksum",      checksum_star) \
    X(93,  "set-env",       set_env_star) \
    X(94,  "get-env",       get_env_star) \
    X(95,  "list-env",      list_env_star) \
    X(99,  "call",          call_star) \
    X(101, "size?",         size_q_star) \
    X(102, "browse",        browse_star) \
    X(103, "compress",      compress_star) \
    X(104, "decompress",    decompress_star)

// datatypes/image.cpp (defined inside the image object)
#define MOX_NATIVES_IMAGE(X) \
    X(117, "known-format?", known_format_q_star) \
    X(118, "decode",        decode_star) \
    X(119, "encode",        encode_star) \
    X(120, "resize",        resize_star)

#define MOX_NATIVES(X) \
    MOX_NATIVES_CONTROL(X) MOX_NATIVES_EVAL(X) MOX_NATIVES_COMPARE(X) MOX_NATIVES_SERIES(X) \
    MOX_NATIVES_MATH(X) MOX_NATIVES_SYSTEM(X) MOX_NATIVES_PARSE(X) MOX_NATIVES_OS(X) \
    MOX_NATIVES_IMAGE(X)

// Natives no native! value names: routines of the same names run these
// bodies from the table (evaluator/system-routines.cpp).
// io/simple-io.cpp
#define MOX_NATIVES_SIMPLE_IO(X) \
    X(108, "create-dir",      create_dir_star) \
    X(109, "exists?",         exists_q_star) \
    X(110, "write-stdout",    write_stdout_star) \
    X(111, "read-clipboard",  read_clipboard_star) \
    X(112, "write-clipboard", write_clipboard_star)

// evaluator/actions-entry.cpp; the ids no action! has (A_EVAL_PATH, A_NONE8,
// A_COMPARE) stay empty.
#define MOX_ACTIONS(X) \
    X(A_MAKE,       "make",       make_star) \
    X(A_RANDOM,     "random",     random_star) \
    X(A_REFLECT,    "reflect",    reflect_star) \
    X(A_TO,         "to",         to_star) \
    X(A_FORM,       "form",       form_star) \
    X(A_MOLD,       "mold",       mold_star) \
    X(A_ABSOLUTE,   "absolute",   in_place<A_ABSOLUTE>) \
    X(A_ADD,        "add",        in_place<A_ADD>) \
    X(A_DIVIDE,     "divide",     in_place<A_DIVIDE>) \
    X(A_MULTIPLY,   "multiply",   in_place<A_MULTIPLY>) \
    X(A_NEGATE,     "negate",     negate_star) \
    X(A_POWER,      "power",      in_place<A_POWER>) \
    X(A_REMAINDER,  "remainder",  in_place<A_REMAINDER>) \
    X(A_ROUND,      "round",      round_star) \
    X(A_SUBTRACT,   "subtract",   in_place<A_SUBTRACT>) \
    X(A_EVEN_Q,     "even?",      even_q_star) \
    X(A_ODD_Q,      "odd?",       odd_q_star) \
    X(A_AND_T,      "and~",       in_place<A_AND_T>) \
    X(A_COMPLEMENT, "complement", complement_star) \
    X(A_OR_T,       "or~",        in_place<A_OR_T>) \
    X(A_XOR_T,      "xor~",       in_place<A_XOR_T>) \
    X(A_APPEND,     "append",     append_star) \
    X(A_AT,         "at",         in_place<A_AT>) \
    X(A_BACK,       "back",       in_place<A_BACK>) \
    X(A_CHANGE,     "change",     change_star) \
    X(A_CLEAR,      "clear",      clear_star) \
    X(A_COPY,       "copy",       copy_star) \
    X(A_FIND,       "find",       find_star) \
    X(A_HEAD,       "head",       in_place<A_HEAD>) \
    X(A_HEAD_Q,     "head?",      in_place<A_HEAD_Q>) \
    X(A_INDEX_Q,    "index?",     in_place<A_INDEX_Q>) \
    X(A_INSERT,     "insert",     insert_star) \
    X(A_LENGTH_Q,   "length?",    length_q_star) \
    X(A_MOVE,       "move",       move_star) \
    X(A_NEXT,       "next",       in_place<A_NEXT>) \
    X(A_PICK,       "pick",       pick_star) \
    X(A_POKE,       "poke",       poke_star) \
    X(A_PUT,        "put",        put_star) \
    X(A_REMOVE,     "remove",     remove_star) \
    X(A_REVERSE,    "reverse",    reverse_star) \
    X(A_SELECT,     "select",     select_star) \
    X(A_SORT,       "sort",       sort_star) \
    X(A_SKIP,       "skip",       in_place<A_SKIP>) \
    X(A_SWAP,       "swap",       swap_star) \
    X(A_TAIL,       "tail",       in_place<A_TAIL>) \
    X(A_TAIL_Q,     "tail?",      in_place<A_TAIL_Q>) \
    X(A_TAKE,       "take",       take_star) \
    X(A_TRIM,       "trim",       trim_star) \
    X(A_CREATE,     "create",     create_star) \
    X(A_CLOSE,      "close",      close_star) \
    X(A_DELETE,     "delete",     delete_star) \
    X(A_MODIFY,     "modify",     modify_star) \
    X(A_OPEN,       "open",       open_star) \
    X(A_OPEN_Q,     "open?",      open_q_star) \
    X(A_QUERY,      "query",      query_star) \
    X(A_READ,       "read",       read_star) \
    X(A_RENAME,     "rename",     rename_star) \
    X(A_UPDATE,     "update",     update_star) \
    X(A_WRITE,      "write",      write_star)
// clang-format on
