// Error codes of the error catalogue: category x 100 + the id's position in
// its category. The C++ name of an id is its word with hyphens as
// underscores (and a trailing underscore where the word is a C++ keyword).
// fire (value.h) takes these codes; MOX_ERROR_CODES lists them for code
// that needs the whole catalogue (the id spellings of error.cpp).
#pragma once

namespace mox::err {

// The catalogue in code order: X(C++ name, code).
#define MOX_ERROR_CODES(X)                                                                         \
    /* Throw Error */                                                                              \
    X(break_, 0)                                                                                   \
    X(return_, 1)                                                                                  \
    X(throw_, 2)                                                                                   \
    X(continue_, 3)                                                                                \
    X(while_cond, 4)                                                                               \
    /* note */                                                                                     \
    X(no_load, 100)                                                                                \
    /* Syntax Error */                                                                             \
    X(invalid, 200)                                                                                \
    X(missing, 201)                                                                                \
    X(no_header, 202)                                                                              \
    X(no_ms_header, 203)                                                                           \
    X(bad_header, 204)                                                                             \
    X(malconstruct, 205)                                                                           \
    X(bad_char, 206)                                                                               \
    /* Script Error */                                                                             \
    X(no_value, 300)                                                                               \
    X(need_value, 301)                                                                             \
    X(not_defined, 302)                                                                            \
    X(not_in_context, 303)                                                                         \
    X(no_arg, 304)                                                                                 \
    X(expect_arg, 305)                                                                             \
    X(expect_val, 306)                                                                             \
    X(expect_type, 307)                                                                            \
    X(cannot_use, 308)                                                                             \
    X(invalid_arg, 309)                                                                            \
    X(invalid_type, 310)                                                                           \
    X(invalid_type_spec, 311)                                                                      \
    X(invalid_key_type, 312)                                                                       \
    X(invalid_op, 313)                                                                             \
    X(no_op_arg, 314)                                                                              \
    X(bad_op_spec, 315)                                                                            \
    X(invalid_data, 316)                                                                           \
    X(invalid_part, 317)                                                                           \
    X(not_same_type, 318)                                                                          \
    X(not_same_class, 319)                                                                         \
    X(not_related, 320)                                                                            \
    X(bad_func_def, 321)                                                                           \
    X(bad_func_arg, 322)                                                                           \
    X(bad_func_extern, 323)                                                                        \
    X(no_refine, 324)                                                                              \
    X(bad_refines, 325)                                                                            \
    X(bad_refine, 326)                                                                             \
    X(dup_refine, 327)                                                                             \
    X(word_first, 328)                                                                             \
    X(empty_path, 329)                                                                             \
    X(unset_path, 330)                                                                             \
    X(invalid_path, 331)                                                                           \
    X(invalid_path_set, 332)                                                                       \
    X(invalid_path_get, 333)                                                                       \
    X(bad_path_type, 334)                                                                          \
    X(bad_path_type2, 335)                                                                         \
    X(bad_path_set, 336)                                                                           \
    X(bad_field_set, 337)                                                                          \
    X(dup_vars, 338)                                                                               \
    X(past_end, 339)                                                                               \
    X(missing_arg, 340)                                                                            \
    X(out_of_range, 341)                                                                           \
    X(invalid_chars, 342)                                                                          \
    X(invalid_compare, 343)                                                                        \
    X(wrong_type, 344)                                                                             \
    X(invalid_refine_arg, 345)                                                                     \
    X(type_limit, 346)                                                                             \
    X(size_limit, 347)                                                                             \
    X(no_return, 348)                                                                              \
    X(throw_usage, 349)                                                                            \
    X(locked_word, 350)                                                                            \
    X(protected_, 351)                                                                             \
    X(bad_bad, 352)                                                                                \
    X(bad_make_arg, 353)                                                                           \
    X(bad_to_arg, 354)                                                                             \
    X(invalid_months, 355)                                                                         \
    X(invalid_spec_field, 356)                                                                     \
    X(missing_spec_field, 357)                                                                     \
    X(move_bad, 358)                                                                               \
    X(too_long, 359)                                                                               \
    X(invalid_char, 360)                                                                           \
    X(bad_loop_series, 361)                                                                        \
    X(wrong_denom, 362)                                                                            \
    X(bad_denom, 363)                                                                              \
    X(invalid_obj_evt, 364)                                                                        \
    X(parse_rule, 365)                                                                             \
    X(parse_end, 366)                                                                              \
    X(parse_invalid_ref, 367)                                                                      \
    X(parse_block, 368)                                                                            \
    X(parse_unsupported, 369)                                                                      \
    X(parse_infinite, 370)                                                                         \
    X(parse_stack, 371)                                                                            \
    X(parse_keep, 372)                                                                             \
    X(parse_into_bad, 373)                                                                         \
    X(parse_into_type, 374)                                                                        \
    X(draw_invalid, 375)                                                                           \
    X(draw_infinite, 376)                                                                          \
    X(invalid_data_facet, 377)                                                                     \
    X(face_type, 378)                                                                              \
    X(not_window, 379)                                                                             \
    X(bad_window, 380)                                                                             \
    X(not_linked, 381)                                                                             \
    X(not_event_type, 382)                                                                         \
    X(invalid_facet_type, 383)                                                                     \
    X(vid_invalid_syntax, 384)                                                                     \
    X(rtd_invalid_syntax, 385)                                                                     \
    X(rtd_no_match, 386)                                                                           \
    X(react_bad_func, 387)                                                                         \
    X(react_not_enough, 388)                                                                       \
    X(react_no_match, 389)                                                                         \
    X(react_bad_obj, 390)                                                                          \
    X(react_gctx, 391)                                                                             \
    X(lib_invalid_arg, 392)                                                                        \
    X(mb_invalid_record, 393)                                                                      \
    /* Math Error */                                                                               \
    X(zero_divide, 400)                                                                            \
    X(overflow, 401)                                                                               \
    X(positive, 402)                                                                               \
    /* Access Error */                                                                             \
    X(cannot_open, 500)                                                                            \
    X(cannot_close, 501)                                                                           \
    X(invalid_utf8, 502)                                                                           \
    X(not_open, 503)                                                                               \
    X(no_connect, 504)                                                                             \
    X(no_scheme, 505)                                                                              \
    X(unknown_scheme, 506)                                                                         \
    X(invalid_spec, 507)                                                                           \
    X(invalid_port, 508)                                                                           \
    X(invalid_actor, 509)                                                                          \
    X(no_port_action, 510)                                                                         \
    X(no_create, 511)                                                                              \
    X(no_codec, 512)                                                                               \
    X(bad_media, 513)                                                                              \
    X(invalid_cmd, 514)                                                                            \
    /* User Error */                                                                               \
    X(message, 800)                                                                                \
    /* Internal Error */                                                                           \
    X(bad_path, 900)                                                                               \
    X(not_here, 901)                                                                               \
    X(no_memory, 902)                                                                              \
    X(wrong_mem, 903)                                                                              \
    X(stack_overflow, 904)                                                                         \
    X(limit_hit, 905)                                                                              \
    X(too_deep, 906)                                                                               \
    X(no_cycle, 907)                                                                               \
    X(feature_na, 908)                                                                             \
    X(not_done, 909)                                                                               \
    X(invalid_error, 910)                                                                          \
    X(routines, 911)                                                                               \
    X(mox_system, 912)                                                                             \
    X(deprecated, 913)

enum Code : int {
#define MOX_ERROR_CODE_ENUM(name, code) name = code,
    MOX_ERROR_CODES(MOX_ERROR_CODE_ENUM)
#undef MOX_ERROR_CODE_ENUM
};

// Category numbers (code / 100).
enum Category : int {
    THROW = 0,
    NOTE = 1,
    SYNTAX = 2,
    SCRIPT = 3,
    MATH = 4,
    ACCESS = 5,
    RESERVED1 = 6,
    RESERVED2 = 7,
    USER = 8,
    INTERNAL = 9
};

inline Category category_of(Code c) { return static_cast<Category>(c / 100); }

} // namespace mox::err
