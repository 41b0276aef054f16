// How library code reports failure: the one convention every layer follows.
//
// 1. An operation that can fail because of its input (a file, an expression, a request,
//    an option) reports it to its caller and never ends the process:
//    - bool (true on success) with a `std::string* error` out-parameter that receives
//      the message, when the caller is the one that prints it; or
//    - an empty result (null pointer, empty std::optional) plus the same error
//      out-parameter, when the operation makes something; or
//    - the 0 / -1 of the index file pieces whose messages are part of the interface,
//      which log their own message before returning -1.
//    The error text is complete as it stands ("Error: ..." where it is shown to the
//    user as is); parser texts end in the byte position counted from 0, as in
//    "Invalid '*' at 0". Message texts live as constants in one messages header per
//    module, so that tests can name them.
// 2. A search in progress is stopped (deadline passed, client gone) by the deadline
//    check throwing `search_aborted` (retrieval/search_context.h). Only the record
//    merger catches it; it then reports no further result. Nothing else throws.
// 3. QUARN_CHECK (common/check.h) stops the program on a broken invariant: a
//    programming error, never anything an input can cause.
// 4. Only program entries (the `main` files and the command-line layers of search,
//    inspect and forge) print a usage or error text and choose the exit status.
#pragma once
