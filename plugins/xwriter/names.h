/*
 * Name texts: the identifier made of a host object's name (the name part of
 * frame, mesh and comment names) and the indentation of the debug trace.
 *
 * Ownership: each function returns a text it owns; it stays valid until the
 * next call of the same function.  The caller never frees it.  Nothing here
 * is reentrant.
 */
#ifndef QEL_XWRITER_NAMES_H
#define QEL_XWRITER_NAMES_H

namespace qel {

// The identifier of a host object name (null counts as the empty name):
// the name as a .x name (mend_x_name): each character a name cannot hold
// becomes one '_', and with `digit_prefix` (opt_digit_prefix) a name that
// begins with a digit gets a leading '_'.  A name of letters, digits, '_'
// and '-' that is no reserved word stays as it is; none is shortened.
const char *x_identifier(const char *name, bool digit_prefix);

// Three spaces per level: 0 gives the empty text, 85 and above give 255
// spaces (the most there are), negative levels the empty text.
const char *indent_text(int level);

}  // namespace qel

#endif  // QEL_XWRITER_NAMES_H
